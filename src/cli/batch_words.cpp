#include "cli/batch_words.h"

#include <utility>

namespace quillmere::cli {

std::variant<std::vector<std::string>, UsageError> split_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\'') {
            const std::size_t end = line.find('\'', i + 1);
            if (end == std::string::npos) return UsageError{"unterminated ' quote"};
            word.append(line, i + 1, end - i - 1);
            in_word = true;
            i = end;
        } else if (c == '"') {
            in_word = true;
            bool closed = false;
            for (++i; i < line.size(); ++i) {
                if (line[i] == '"') {
                    closed = true;
                    break;
                }
                if (line[i] == '\\' && i + 1 < line.size() &&
                    (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    ++i;
                }
                word += line[i];
            }
            if (!closed) return UsageError{"unterminated \" quote"};
        } else if (c == '\\') {
            if (i + 1 >= line.size()) return UsageError{"a backslash ends the line"};
            word += line[++i];
            in_word = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

}  // namespace quillmere::cli
