#pragma once

// An open file that can be read. Deleting it closes the file.
class IFileReadable {
  public:
    virtual ~IFileReadable() = default;
    // Reads up to `count` bytes at the current position: the number read, 0
    // at the end of the file, -1 on failure.
    virtual long Read(unsigned char* buffer, unsigned long count) = 0;
    // Moves to an absolute position: the new position, or -1.
    virtual long Seek(unsigned long position) = 0;
    // The current position, or -1.
    virtual long Tell() = 0;
    // The file's length in bytes, or -1; the position does not move.
    virtual long GetLength() = 0;
};

// An open file that can also be written.
class IFileWritable : public IFileReadable {
  public:
    // Writes at the current position (at the end in append mode): the number
    // written, or -1.
    virtual long Write(const unsigned char* data, unsigned long count) = 0;
};
