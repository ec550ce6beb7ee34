#pragma once

#include <QString>
#include <functional>
#include <memory>

class QCommandLineParser;
class QWidget;

namespace camwarden {

class Registry;

// What main() does differently on each system. The build links one file of
// these per system (SystemWiringUnix.cpp, SystemWiringWindows.cpp), so main
// itself reads the same everywhere.
namespace wiring {

// Where this system keeps the settings, the log-on entry and the log, for --help.
QString CommandLineDescription();
// --camera's help, with this system's own camera names.
QString CameraOptionDescription();

enum class Answer { Help, Version, Problem };
// Answers the command line instead of starting: its help (as `parser`
// describes it), the version, or `problem` with it. A window program
// without a console (Windows) answers in a message box, and in the log.
// Returns the exit code: not 0 for a problem.
int AnswerCommandLine(Answer answer, const QCommandLineParser& parser, const QString& problem = {});

// Before anything is logged: the log's form and, where a window program has
// no standard error, its file; and signals caught from the first moment.
// Held for the run.
std::shared_ptr<void> StartLogging(const char* timedLines);

// Before GStreamer starts: the plugins it may load and where it keeps its
// registry of them. An installed copy on Windows loads only its own and
// keeps its own registry, whatever the environment names; elsewhere the
// system's GStreamer is used as the environment sets it up.
void UseOwnPlugins();

// The store the log-on entry goes into.
std::unique_ptr<Registry> MakeRegistry();

// The system's requests to end the program (signals; the session ending)
// close `window`; `finishClips` finishes the clip being recorded where the
// system ends the process the moment it is told. Held for the run.
std::shared_ptr<void> WatchCloseRequests(QWidget* window, const std::function<void()>& finishClips);

// The program waits for events from now on.
void StartUpOver();

}  // namespace wiring
}  // namespace camwarden
