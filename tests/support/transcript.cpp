#include "tests/support/transcript.h"

#include <regex>

#include "tests/support/process.h"
#include "tests/support/session.h"

namespace {

const std::string prompt_text = "modbus$>";

}  // namespace

std::vector<std::string> typedLines(const std::string& transcript) {
    std::vector<std::string> typed;
    std::size_t at = 0;
    while ((at = transcript.find(prompt_text, at)) != std::string::npos) {
        at += prompt_text.size();
        const std::size_t end = transcript.find('\n', at);
        typed.push_back(transcript.substr(at, end == std::string::npos ? end : end - at));
    }
    if (!typed.empty() && typed.back().empty()) {
        typed.pop_back();
    }
    return typed;
}

std::string screenOf(const std::string& out, const std::vector<std::string>& typed) {
    std::string text = withoutLibraryTrace(out);
    while (text.rfind("argv[", 0) == 0) {
        text.erase(0, text.find('\n') + 1);
    }
    static const std::regex address("bytes from (0x[0-9a-f]+|\\(nil\\))\\)");
    text = std::regex_replace(text, address, "bytes from PTR)");

    // The terminal echoes what the operator types right after the prompt.
    std::string screen;
    std::size_t copied = 0;
    for (const std::string& line : typed) {
        const std::size_t at = text.find(prompt_text, copied);
        if (at == std::string::npos) {
            break;
        }
        const std::size_t after = at + prompt_text.size();
        screen.append(text, copied, after - copied).append(line).append("\n");
        copied = after;
    }
    return screen.append(text, copied, std::string::npos);
}

SessionRun runSession(const std::vector<std::string>& args, const std::string& transcript) {
    const std::vector<std::string> typed = typedLines(transcript);
    std::string input;
    for (const std::string& line : typed) {
        input.append(line).append("\n");
    }
    const ProcessResult run = runTesmar(args, input);
    return SessionRun{screenOf(run.out, typed), run.err, run.exit_status, run.timed_out};
}
