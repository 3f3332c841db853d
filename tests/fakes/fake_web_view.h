#pragma once

#include <vector>

#include "platform/web_view.h"

namespace lumory::fakes {

// Records what the delegate asks of the page.
class FakeWebView : public WebView {
public:
    struct Load {
        bool isRequest;  // else an HTML string
        std::string content;
        std::chrono::seconds timeout{0};
        CachePolicy cachePolicy = CachePolicy::ReloadIgnoringLocalCache;
    };

    void loadUri(const std::string& url, std::chrono::seconds timeout,
                     CachePolicy policy = CachePolicy::ReloadIgnoringLocalCache) override {
        loads.push_back({true, url, timeout, policy});
        url_ = url;
    }
    void loadHtml(const std::string& html) override {
        loads.push_back({false, html, {}, CachePolicy::ReloadIgnoringLocalCache});
        url_ = "about:blank";
    }
    void evaluateJavascript(const std::string& script,
                        std::function<void(std::optional<std::string>)> done) override {
        scripts.push_back(script);
        if (holdCompletions) {
            heldCompletions.push_back(std::move(done));
        } else if (done) {
            done(evaluationError);
        }
    }
    // Completes the oldest held evaluation with `error` (nothing: it ran).
    void completeEvaluation(std::optional<std::string> error) {
        auto done = std::move(heldCompletions.front());
        heldCompletions.erase(heldCompletions.begin());
        if (done) done(std::move(error));
    }
    void reload() override { ++reloads; }
    void executeEditingCommand(EditingCommand command) override {
        editingCommands.push_back(command);
    }
    void registerScriptMessageHandler(const std::string& name) override { handlers.push_back(name); }
    void unregisterScriptMessageHandler(const std::string& name) override {
        removedHandlers.push_back(name);
        if (removalLog) removalLog->push_back(name);
    }
    void addUserScript(const std::string& source) override { userScripts.push_back(source); }
    std::string currentUri() const override { return url_; }
    double zoom() const override { return zoomLevel; }
    void focus() override { ++focusCount; }

    const Load* lastLoad() const { return loads.empty() ? nullptr : &loads.back(); }

    std::vector<Load> loads;
    std::vector<std::string> scripts;
    std::vector<EditingCommand> editingCommands;
    std::vector<std::string> handlers;
    std::vector<std::string> removedHandlers;
    std::vector<std::string> userScripts;
    double zoomLevel = 1.0;
    int reloads = 0;
    int focusCount = 0;
    // Every evaluation reports this error at once, unless completions are held for the test.
    std::optional<std::string> evaluationError;
    bool holdCompletions = false;
    std::vector<std::function<void(std::optional<std::string>)>> heldCompletions;
    // Also records removed handlers here, for a view that is gone before the test looks.
    std::vector<std::string>* removalLog = nullptr;

private:
    std::string url_;
};

}  // namespace lumory::fakes
