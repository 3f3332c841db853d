#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace lumory {

// Injected into every page of the main web view: reports where the sidebar sits and asks for a
// window drag on a press in the page's own title areas.
extern const std::string_view kMainPageScript;

// The script that hands a menu command to the page; `word` is one of the fixed command words.
std::string pageCommandScript(std::string_view word);

// The script that gives the page's first control (`forward`) or its last one the focus, in the
// order Tab walks them. WebKitGTK focuses nothing inside the page when the focus comes into the
// view from outside, so a Tab from the window buttons would land on no control at all.
std::string pageFocusEntryScript(bool forward);

// The script that dispatches the page event `name` with `detail`; nothing when the detail cannot
// travel as JSON (text that is not UTF-8).
std::optional<std::string> pageEventScript(std::string_view name, const nlohmann::json& detail);

}  // namespace lumory
