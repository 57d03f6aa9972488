#include "commands/TokenFile.h"
#include <sys/stat.h>
#include <fstream>
#include <sstream>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The words of a line, apart by blanks.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    for (size_t i = 0; i < line.size();) {
        if (IsBlank(line[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < line.size() && !IsBlank(line[end]))
            ++end;
        words.push_back(line.substr(i, end - i));
        i = end;
    }
    return words;
}

// The file's kind and who else may touch it.
bool CheckFile(const std::string& path, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || (info.st_mode & S_IFMT) != S_IFREG) {
        error = path + " is not a file that can be read";
        return false;
    }
#ifndef _WIN32
    // Windows keeps who may read a file in its ACL; the mode bits it reports say nothing of that.
    if ((info.st_mode & (S_IROTH | S_IWOTH | S_IWGRP)) != 0) {
        error = path + " is readable or writable by others, or writable by its group (chmod " +
                "go-w,o-r " + path + ")";
        return false;
    }
#endif
    if (static_cast<unsigned long long>(info.st_size) > MAX_TOKEN_FILE_BYTES) {
        error =
            path + " is over " + std::to_string(MAX_TOKEN_FILE_BYTES) + " bytes: not a token file";
        return false;
    }
    return true;
}

} // namespace

bool ReadTokenFile(const std::string& path, std::vector<TokenLine>& lines, std::string& error) {
    lines.clear();
    if (!CheckFile(path, error))
        return false;
    std::ifstream in(path, std::ios::binary);
    std::string text(MAX_TOKEN_FILE_BYTES + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad() || (!in && !in.eof())) {
        error = path + " cannot be read";
        return false;
    }
    // The file may have grown since it was looked at.
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > MAX_TOKEN_FILE_BYTES) {
        error =
            path + " is over " + std::to_string(MAX_TOKEN_FILE_BYTES) + " bytes: not a token file";
        return false;
    }
    std::istringstream file(text);
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        const std::vector<std::string> words = Words(line);
        if (words.empty())
            continue;
        if (words.size() > 2) {
            error = path + ":" + std::to_string(number) + ": a line holds TOKEN or LABEL TOKEN";
            return false;
        }
        lines.push_back(words.size() == 1 ? TokenLine{"", words[0]}
                                          : TokenLine{words[0], words[1]});
    }
    if (lines.empty()) {
        error = path + " holds no token";
        return false;
    }
    return true;
}

bool ReadToken(const std::string& path, std::string& token, std::string& error) {
    std::vector<TokenLine> lines;
    if (!ReadTokenFile(path, lines, error))
        return false;
    token = lines.front().token;
    return true;
}
