#pragma once
// The text under every "File System Error" title and "Signature Failure".
#define QUARLO_DOWNLOAD_URL "https://quarlo.app/download"
constexpr const char *REINSTALL_TEXT =
    "Quarlo is either out of date or corrupt. Please try reinstalling from " QUARLO_DOWNLOAD_URL
    ".";
