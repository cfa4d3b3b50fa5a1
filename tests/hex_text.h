// The test programs take bytes as hexadecimal text, so that any byte can be sent on a command
// line: "-" is no bytes at all.
#pragma once

#include <string>

inline std::string BytesOfHex(const std::string& hex)
{
    std::string bytes;
    if (hex == "-")
        return bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}
