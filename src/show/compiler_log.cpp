#include "show/compiler_log.hpp"

#include <regex>
#include <sstream>

namespace
{

std::string lowerCase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

} // namespace

std::vector<CompilerMessage> parseCompilerLog(const std::string& log)
{
    static const std::regex mesa(R"(^\s*\d+:(\d+)\(\d+\):\s*(error|warning)\s*:(.*)$)", std::regex::icase);
    static const std::regex nvidia(R"(^\s*\d+\((\d+)\)\s*:\s*(error|warning)\s*[A-Z]?\d*\s*:(.*)$)",
                                   std::regex::icase);
    static const std::regex colon(R"(^\s*(error|warning)\s*:\s*[^:]*:(\d+):\s*(.*)$)", std::regex::icase);
    static const std::regex noLine(R"(^\s*(error|warning)\s*:\s*(.*)$)", std::regex::icase);

    std::vector<CompilerMessage> messages;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line))
    {
        std::smatch match;
        if (std::regex_match(line, match, mesa) || std::regex_match(line, match, nvidia))
        {
            // Mesa indents the lines that continue a message ("candidates are:").
            const int at = std::stoi(match[1]);
            const bool continues = std::string(match[3]).rfind("   ", 0) == 0;
            if (continues && !messages.empty() && messages.back().line == at)
                messages.back().text += " " + trimmed(match[3]);
            else
                messages.push_back({at, lowerCase(match[2]), trimmed(match[3])});
        }
        else if (std::regex_match(line, match, colon))
            messages.push_back({std::stoi(match[2]), lowerCase(match[1]), trimmed(match[3])});
        else if (std::regex_match(line, match, noLine))
            messages.push_back({0, lowerCase(match[1]), trimmed(match[2])});
        else if (!trimmed(line).empty())
            messages.push_back({0, "error", trimmed(line)});
    }
    return messages;
}
