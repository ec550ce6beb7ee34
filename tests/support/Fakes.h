#pragma once

#include "app/Clock.h"
#include "app/Dialogs.h"
#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "capture/CaptureWindow.h"

#include <QDateTime>
#include <QEvent>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace camwarden::testing {

struct ShownBox {
    QString text;
    MsgIcon icon;
    QString title;
};

// Records every box and answers the input box and folder browser from a script.
class FakeDialogs final : public Dialogs {
public:
    using Dialogs::MsgBox;
    void MsgBox(const QString& text, MsgIcon icon, const QString& title) override {
        shown.push_back({text, icon, title});
    }
    std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                    const QString& defaultText) override {
        inputPrompts.push_back({prompt, MsgIcon::None, title});
        inputDefaults.push_back(defaultText);
        // A null answer stands for Cancel.
        if (inputAnswers.empty() || inputAnswers.front().isNull()) {
            if (!inputAnswers.empty()) inputAnswers.pop_front();
            return std::nullopt;
        }
        QString answer = inputAnswers.front();
        inputAnswers.pop_front();
        return answer;
    }
    QString BrowseForFolder(QWidget*, const QString& title, const QString& start) override {
        browseTitles.push_back(title);
        browseStarts.push_back(start);
        if (folderAnswers.empty()) return {};
        QString answer = folderAnswers.front();
        folderAnswers.pop_front();
        return answer;
    }

    QStringList Texts() const {
        QStringList texts;
        for (const ShownBox& b : shown) texts << b.text;
        return texts;
    }

    std::vector<ShownBox> shown;
    std::vector<ShownBox> inputPrompts;
    QStringList inputDefaults;
    std::deque<QString> inputAnswers;
    QStringList browseTitles;
    QStringList browseStarts;
    std::deque<QString> folderAnswers;
};

// An in-memory store that remembers the order of writes, and of every
// look and write in `journal`.
class MemorySettings final : public SettingsStore {
public:
    QString ReadSetting(const QString& app, const QString& section, const QString& key,
                        const QString& defaultValue) override {
        journal << "read " + key;
        const QString k = app + '/' + section + '/' + key;
        return values.contains(k) ? values.value(k) : defaultValue;
    }
    void WriteSetting(const QString& app, const QString& section, const QString& key,
                      const QString& value) override {
        values.insert(app + '/' + section + '/' + key, value);
        writes << key + '=' + value;
        journal << "write " + key;
    }
    bool ContainsSetting(const QString& app, const QString& section, const QString& key) override {
        journal << "read " + key;
        return values.contains(app + '/' + section + '/' + key);
    }
    void Preset(const QString& key, const QString& value) {
        values.insert(QStringLiteral("Quillory/Camwarden/") + key, value);
    }
    std::optional<QString> Stored(const QString& key) const {
        const QString k = QStringLiteral("Quillory/Camwarden/") + key;
        if (!values.contains(k)) return std::nullopt;
        return values.value(k);
    }

    QMap<QString, QString> values;
    QStringList writes;
    QStringList journal;
};

class FixedClock final : public Clock {
public:
    QDateTime Now() override { return now; }
    int64_t SinceBootMs() override { return sinceBootMs; }
    QDateTime now{QDate(2022, 1, 5), QTime(9, 3, 7)};
    int64_t sinceBootMs = 1'000'000;
};

// Makes no folder: says whether one was asked for.
class FakeShellFolders final : public ShellFolders {
public:
    QString SpecialFolderPath(int folder, bool create) override {
        if (folder != kDesktop) return {};
        createAsked = createAsked || create;
        return desktop;
    }
    QString desktop = QStringLiteral("/home/user/Desktop");
    bool createAsked = false;
};

// Logs every request to every capture window it made; any request can be
// refused by name ("Create" refuses making the window).
class FakeCaptureSystem final : public CaptureSystem {
public:
    class Window final : public CaptureWindow {
    public:
        explicit Window(FakeCaptureSystem& sys) : sys_(sys) {}
        bool DriverConnect(int index) override {
            return Log("DriverConnect " + QString::number(index), "DriverConnect");
        }
        bool DriverDisconnect() override { return Log("DriverDisconnect"); }
        bool SetPreview(bool on) override {
            return Log(QStringLiteral("SetPreview ") + (on ? "1" : "0"), "SetPreview");
        }
        bool SetCaptureFile(const QString& path) override {
            sys_.captureFile = path;
            return Log("SetCaptureFile " + path, "SetCaptureFile");
        }
        void SetClipLength(int32_t seconds) override { sys_.clipLength = seconds; }
        void SetFolderLimit(const QString& folder, int64_t bytes) override {
            sys_.limitedFolder = folder;
            sys_.folderLimit = bytes;
        }
        void SetTimeStamp(bool on) override { sys_.timeStamp = on; }
        bool GetSequenceSetup(CaptureParms& parms) override {
            parms = sys_.parms;
            return Log("GetSequenceSetup");
        }
        bool SetSequenceSetup(const CaptureParms* parms) override {
            if (parms) sys_.parms = *parms;
            return Log(parms ? "SetSequenceSetup 88" : "SetSequenceSetup 0", "SetSequenceSetup");
        }
        bool Sequence() override { return Log("Sequence"); }
        bool Stop() override { return Log("Stop"); }
        bool DlgVideoSource() override { return Log("DlgVideoSource"); }
        bool DlgVideoFormat() override { return Log("DlgVideoFormat"); }
        bool DlgVideoCompression() override { return Log("DlgVideoCompression"); }
        void Close() override { Log("Close"); }

    private:
        bool Log(const QString& entry, const QString& name = {}) {
            sys_.log << entry;
            return !sys_.refuse.contains(name.isEmpty() ? entry : name);
        }
        FakeCaptureSystem& sys_;
    };

    std::unique_ptr<CaptureWindow> CreateCaptureWindow(const QString& name, QWidget*) override {
        log << "Create " + name;
        if (refuse.contains("Create")) return nullptr;
        return std::make_unique<Window>(*this);
    }
    void SetClipFailedHandler(ClipFailedHandler handler) override { onFailed = std::move(handler); }
    void SetAgeLimit(const QString& folder, int days) override {
        ageLimits << QStringLiteral("%1 %2").arg(days).arg(folder);
    }

    ClipFailedHandler onFailed;  // a test calls it as a failing clip would
    QStringList log;
    QSet<QString> refuse;
    CaptureParms parms;
    QString captureFile;
    int32_t clipLength = 0;
    int64_t folderLimit = 0;
    bool timeStamp = false;
    QString limitedFolder;
    QStringList ageLimits;  // "days folder", as told
};

}  // namespace camwarden::testing
