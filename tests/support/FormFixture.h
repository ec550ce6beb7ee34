#pragma once

#include "app/Form1.h"
#include "support/FakeRegistry.h"
#include "support/FakeTrayShell.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

namespace camwarden::testing {

// A window on fakes, built fresh for every test.
class FormFixture : public ::testing::Test {
protected:
    FormFixture() {
        auto s = std::make_unique<MemorySettings>();
        auto d = std::make_unique<FakeDialogs>();
        auto c = std::make_unique<FakeCaptureSystem>();
        auto sh = std::make_unique<FakeShellFolders>();
        auto cl = std::make_unique<FixedClock>();
        auto t = std::make_unique<FakeTrayShell>();
        auto r = std::make_unique<FakeRegistry>();
        // Balloons time out at once instead of holding a test for seconds.
        t->answerBalloonsWith = TrayNotification::BalloonTimeout;
        tray = t.get();
        registry = r.get();
        platform.tray = std::move(t);
        platform.registry = std::move(r);
        platform.executablePath = QStringLiteral("/opt/camwarden/bin/camwarden");
        settings = s.get();
        dialogs = d.get();
        capture = c.get();
        shell = sh.get();
        clock = cl.get();
        platform.settings = std::move(s);
        platform.dialogs = std::move(d);
        platform.capture = std::move(c);
        platform.shell = std::move(sh);
        platform.clock = std::move(cl);
        platform.programFolder = QStringLiteral("/nonexistent-program-folder");
    }

    Form1& MakeForm() {
        form = std::make_unique<Form1>(platform, state);
        return *form;
    }
    Form1& Load() {
        MakeForm().Form_Load();
        return *form;
    }

    MemorySettings* settings;
    FakeDialogs* dialogs;
    FakeCaptureSystem* capture;
    FakeShellFolders* shell;
    FixedClock* clock;
    FakeTrayShell* tray;
    FakeRegistry* registry;
    Platform platform;
    ProgramState state;
    std::unique_ptr<Form1> form;
};

}  // namespace camwarden::testing
