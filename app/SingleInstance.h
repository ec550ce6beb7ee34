#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class QLockFile;
class QLocalServer;

namespace camwarden {

// One running program per user. The first start holds a lock and listens;
// a later start finds the lock, asks the first to show its window, and ends.
// A second lock beside the program's state covers the profile itself: a
// home shared by several machines, or a runtime folder set differently,
// would otherwise let two copies write one record of clips.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The system's place by default (os::DefaultInstanceNames); tests give
    // a folder of their own.
    // The profile's lock goes in `profileFolder`, by default the state
    // folder, or `folder` where a test gives one.
    explicit SingleInstance(const QString& folder = QString(),
                            const QString& profileFolder = QString());
    ~SingleInstance() override;

    // False only when another instance holds the lock. True when this is
    // the only instance (it then listens for later starts), and also when
    // no lock can be made at all: a missing recording is worse than two
    // copies. Problem() then says why.
    bool Acquire();
    const QString& Problem() const { return problem_; }
    // After a refused Acquire: empty when a copy on this desktop holds the
    // lock (ask it to show), else why the profile is taken, for the log.
    const QString& ProfileTaken() const { return profileTaken_; }
    // The lock file: in the user's runtime folder, else in the temporary
    // folder under a name that carries the user's id; on Windows in the
    // program's state folder, named after the user's SID and session.
    QString LockPath() const;
    // From a later start: asks the running instance to come forward, with
    // the launcher's activation token, without which a Wayland desktop
    // neither raises nor focuses the window.
    void AskRunningToShow(const QString& activationToken = QString());
    // Lets go of the lock and stops listening, for a run that ends without
    // its destructors.
    void Release();

Q_SIGNALS:
    void ShowRequested(const QString& activationToken);

private:
    QString lockPath_;
    QString serverName_;
    QString problem_;
    QString profileLockPath_;
    QString profileTaken_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLockFile> profileLock_;
    QTimer keepFresh_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace camwarden
