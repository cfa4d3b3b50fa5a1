// GetLastError and FormatMessageA for the Linux backends and the tests' scripted desktop.
#include "window_system/last_error.h"

#include <cstring>

namespace {

DWORD LastError;
std::string LastErrorText;

const char* GeneralText(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return "the move was refused";
    case ERROR_INVALID_WINDOW_HANDLE:
        return "the window has gone";
    case ERROR_TIMEOUT:
        return "no answer came in time";
    default:
        return "";
    }
}

} // namespace

BOOL Fail(DWORD error, std::string text)
{
    LastError = error;
    LastErrorText = std::move(text);
    return FALSE;
}

DWORD GetLastError() { return LastError; }

DWORD FormatMessageA(DWORD dwFlags, const void* /*lpSource*/, DWORD dwMessageId, DWORD /*dwLanguageId*/, char* lpBuffer,
                     DWORD nSize, va_list* /*Arguments*/)
{
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || !lpBuffer || nSize == 0)
        return 0;
    const std::string text =
        dwMessageId == LastError && !LastErrorText.empty() ? LastErrorText : GeneralText(dwMessageId);
    const std::size_t length = text.size() < nSize ? text.size() : nSize - 1;
    std::memcpy(lpBuffer, text.data(), length);
    lpBuffer[length] = '\0';
    return static_cast<DWORD>(length);
}
