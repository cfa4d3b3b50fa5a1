// Runs both phases of the program against the scripted desktop, as main does, with the given
// text as standard input, and captures what it printed.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "catalogue/catalogue.h"
#include "placement/placement.h"
#include "scripted_desktop.h"

struct TopleftRun {
    std::string out, err;
    int status;
    std::string unread; // what was left of standard input
};

inline std::FILE* InputOf(const std::string& text)
{
    std::FILE* input = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), input);
    std::rewind(input);
    return input;
}

inline std::string RestOf(std::FILE* input)
{
    std::string rest;
    for (int c = std::getc(input); c != EOF; c = std::getc(input))
        rest.push_back(static_cast<char>(c));
    return rest;
}

inline TopleftRun RunTopleft(const std::string& typed)
{
    std::FILE* input = InputOf(typed);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EnumWindows(CatalogueWindowProc, 0);
    const int status = SelectAndPlaceWindow(input);
    std::fflush(stdout);
    TopleftRun run{testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr(), status,
                   RestOf(input)};
    std::fclose(input);
    return run;
}

// Every test starts from process start: an empty catalogue and an empty desktop.
class FreshProcess : public testing::Test {
protected:
    void SetUp() override
    {
        WindowCatalogue.clear();
        ListedWindowCount = 0;
        ScriptedDesktop::Reset();
    }
};
