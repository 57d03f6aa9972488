// The token file: the secret an operation on kelvaned needs, kept in a file only its owner can
// read. kelvanectl reads it to send the token, kelvaned to know the tokens it takes; both read it
// here, under the same rules.
//   TokenLine, MAX_TOKEN_FILE_BYTES  one line of the file, and the bound on the file's size
//   ReadTokenFile   reads and checks the whole file
//   ReadToken       the token a client sends: the first line's
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A line is "TOKEN" or "LABEL TOKEN" (the label names who holds the token, for the log), its
// words apart by blanks and the line trimmed of them.
struct TokenLine {
    std::string label; // empty on a line of a bare token
    std::string token;
};

// Far more than any token file needs; a larger file is refused before it is read.
inline constexpr std::size_t MAX_TOKEN_FILE_BYTES = 64 * 1024;

// Reads the file's lines in order, blank lines left out. False with the reason (naming the file,
// and the line where one is wrong) when it is not a regular file, is readable or writable by
// others or writable by its group (on Linux; on Windows its ACL decides), cannot be read, is over
// MAX_TOKEN_FILE_BYTES, holds a line of more than two words, or holds no token at all.
bool ReadTokenFile(const std::string& path, std::vector<TokenLine>& lines, std::string& error);

// The token of the file's first line.
bool ReadToken(const std::string& path, std::string& token, std::string& error);
