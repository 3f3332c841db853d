#pragma once

#include <string>
#include <string_view>

namespace lumory {

inline constexpr std::string_view kResourcesMissingMessage =
    "The application resources are missing.";
inline constexpr std::string_view kServiceMissingMessage =
    "The Lumory service is missing from the application bundle.";
inline constexpr std::string_view kLaunchFailedMessage =
    "Lumory could not start its local service.";
inline constexpr std::string_view kStartFailedMessage = "Lumory could not finish starting.";
inline constexpr std::string_view kStartTooSlowMessagePrefix =
    "Lumory took too long to start. Port ";
inline constexpr std::string_view kStartTooSlowMessageSuffix = " may already be in use.";
inline constexpr std::string_view kServiceStoppedMessage =
    "The local Lumory service stopped unexpectedly.";
inline constexpr std::string_view kServiceStoppedStatusPrefix =
    "The local Lumory service stopped unexpectedly (status ";

inline constexpr std::string_view kPageDidNotLoadMessage =
    "The local Lumory service did not send its page.";
inline constexpr std::string_view kPageKeepsCrashingMessage =
    "Lumory's page stopped working several times in a row.\n\n"
    "Choose Reload in the View menu to try again.";

// `headline` + blank line + `detail`.
std::string messageWithDetail(std::string_view headline, std::string_view detail);

// Replaces &, < and > (in that order) so the text shows literally inside an element.
std::string escapeHtmlText(std::string_view text);

// The whole failure document around `message`.
std::string failurePage(std::string_view message);

}  // namespace lumory
