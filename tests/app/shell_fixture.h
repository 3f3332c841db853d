#pragma once

#include <gtest/gtest.h>

#include "shell/shell.h"
#include "fake_desktop.h"
#include "fake_main_queue.h"
#include "fake_platform.h"
#include "fake_service.h"

namespace lumory::fakes {

// A launched shell over fakes; the service has been started but has said nothing yet.
class ShellTest : public ::testing::Test {
protected:
    void launch() {
        shell = std::make_unique<Shell>(ShellPlatform{
            desktop, launcher, queue, system, dialogs, notifications, http, settings, clock});
        shell->start();
    }

    FakeWebView& page() { return *desktop.webView; }

    // The main view finished loading what it was last asked to show.
    void finishLoading() { desktop.webViewDelegate->loadFinished(page()); }

    // The text inside the failure page's message element, as the markup holds it.
    std::string shownFailure() {
        const FakeWebView::Load* load = page().lastLoad();
        if (load == nullptr || load->isRequest) return "<no failure page>";
        auto open = load->content.find("<pre>");
        auto close = load->content.rfind("</pre></main>");
        if (open == std::string::npos || close == std::string::npos) return "<no failure page>";
        return load->content.substr(open + 5, close - open - 5);
    }

    std::string requestedUrl() {
        const FakeWebView::Load* load = page().lastLoad();
        return load && load->isRequest ? load->content : "";
    }

    FakeDesktop desktop;
    FakeServiceLauncher launcher;
    FakeMainQueue queue;
    FakeHostSystem system;
    FakeDialogs dialogs;
    FakeNotificationCenter notifications;
    FakeHttpClient http;
    FakeSettingsStore settings;
    FakeClock clock;
    std::unique_ptr<Shell> shell;
};

}  // namespace lumory::fakes
