// Whole-file reading and writing of the server's text files.
#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

// Names that are not crypted: options, key bindings, game data folders and the server's own
// settings files. Every other name is crypted; the class only chooses the error text of a
// failed write. A null name counts as empty.
bool isCryptedName(const char* name);

class DataFile {
public:
    // Reads the whole file. A missing or unreadable file is logged to the engine log and
    // leaves text() null, size() 0 and an empty stream.
    explicit DataFile(const char* name);
    // Writes `contents` to the file in one piece (truncating it); a file that cannot be
    // created is logged and nothing is written.
    DataFile(const char* name, const std::string& contents);

    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // The file's bytes followed by one zero byte; null after a failed read and for writers.
    const char* text() const { return text_.get(); }
    uint32_t size() const { return size_; }
    // The text up to its first zero byte.
    std::istream& stream() { return stream_; }

private:
    std::unique_ptr<char[]> text_;
    uint32_t size_ = 0;
    std::istringstream stream_;
};
