#pragma once
// The text under every "File System Error" title and "Signature Failure", and the box that
// shows it.
#define QUARLO_DOWNLOAD_URL "https://quarlo.app/download"
constexpr const char *REINSTALL_TEXT =
    "Quarlo is either out of date or corrupt. Please try reinstalling from " QUARLO_DOWNLOAD_URL
    ".";

// Traces the refusal, then shows the box `title` over the reinstall text: the end of a launch or
// of a recovery.
void refuse_with_box(const char *title);
