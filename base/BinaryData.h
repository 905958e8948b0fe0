#pragma once

#include <cstdint>
#include <string>

class IFileReadable;
class IFileWritable;

// A view of a reference-counted storage block: the block plus the offset and
// length of the view's bytes inside it. A block held by several views is never
// changed; a modifying view first takes a block of its own (copy-on-write).
class TSharedDataRef {
  public:
    // Storage block: the bytes, how many are in use, how many are allocated
    // (0: the bytes are borrowed, or none were ever allocated) and how many
    // views hold it.
    class TSharedData {
      public:
        // own = true adopts an array allocated with new[]; false borrows p.
        TSharedData(bool own, const unsigned char* p, unsigned long len);
        // Allocates len bytes (rounded up to a multiple of block when block > 1),
        // copied from src or zero-filled when src is null.
        TSharedData(const unsigned char* src, unsigned long len, unsigned long block);
        TSharedData(const TSharedData&) = delete;
        TSharedData& operator=(const TSharedData&) = delete;

        void Push();
        void Pop();  // deletes the block when the last holder lets go

        bool IsSingleOwner() const { return m_refCount == 1; }
        bool IsAllocated() const { return m_capacity != 0; }

        unsigned char* GetData() { return m_bytes; }
        const unsigned char* GetData() const { return m_bytes; }
        unsigned long GetLength() const { return m_length; }
        void SetLength(unsigned long length);
        unsigned long GetCapacity() const { return m_capacity; }

        // Removes count bytes at block position pos (both clamped to the length).
        void DeleteData(unsigned long pos, unsigned long count);
        // Edits of the used bytes, which begin at start and end at the block's
        // length; pos counts from start. They return where the used bytes begin
        // afterwards (0 once they had to be moved to make room).
        unsigned long ReplaceData(unsigned long start, unsigned long pos, const unsigned char* src,
                                  unsigned long len, unsigned long removeCount);
        unsigned long InsertDirectBytes(unsigned long start, unsigned long pos, unsigned char b,
                                        unsigned long count);

      private:
        friend class TSharedDataRef;
        ~TSharedData();

        // Replaces the removeCount bytes at start + pos by an uninitialised gap
        // of insertCount bytes, moving or reallocating as needed. Updates start
        // and returns the block position of the gap.
        std::uint32_t OpenGap(std::uint32_t& start, std::uint32_t pos, std::uint32_t removeCount,
                              std::uint32_t insertCount);

        unsigned char* m_bytes;
        std::uint32_t m_length;
        std::uint32_t m_capacity;
        std::uint32_t m_refCount;
    };

    TSharedDataRef();
    TSharedDataRef(bool own, const unsigned char* p, unsigned long len);
    TSharedDataRef(const unsigned char* src, unsigned long len, unsigned long block);
    // View of ref's bytes [offset, offset + length), clamped to ref's length;
    // 0xFFFFFFFF as length means up to the end.
    TSharedDataRef(const TSharedDataRef& ref, unsigned long offset, unsigned long length);
    TSharedDataRef(const TSharedDataRef& other);
    TSharedDataRef& operator=(const TSharedDataRef& other);
    ~TSharedDataRef();

    void Clear() { m_length = 0; }
    // Makes this view the only holder of an owned block (copy-on-write).
    void Clone();
    unsigned char* Data();
    const unsigned char* GetData() const;
    unsigned long GetLength() const { return m_length; }
    TSharedData* GetDataLink() const { return m_storage; }

    void DeleteData(unsigned long pos, unsigned long count);
    void InsertDirectBytes(unsigned long pos, unsigned char b, unsigned long count);
    void ReplaceData(unsigned long pos, unsigned long removeCount, const unsigned char* src,
                     unsigned long len);

    bool operator==(const TSharedDataRef& other) const;

  private:
    void Attach(TSharedData* storage);

    TSharedData* m_storage;
    std::uint32_t m_offset;
    std::uint32_t m_length;
};

// Byte-string value type. Copies, slices and returned values share storage
// until one of them is modified. A count of 0xFFFFFFFF means "up to the end"
// where stated.
class T_BinaryData {
  public:
    static constexpr unsigned long kToEnd = 0xFFFFFFFFUL;

    T_BinaryData();
    T_BinaryData(const unsigned char* src, unsigned long len, unsigned long block = 0);
    explicit T_BinaryData(unsigned char b);
    explicit T_BinaryData(const std::string& s);
    // own = true adopts p (allocated with new[]); false borrows it, and the
    // caller's memory must outlive every use of this buffer.
    T_BinaryData(bool own, const unsigned char* p, unsigned long len);
    T_BinaryData(const TSharedDataRef& ref, unsigned long offset, unsigned long length);
    explicit T_BinaryData(IFileReadable& f);
    T_BinaryData(const T_BinaryData& other);
    T_BinaryData& operator=(const T_BinaryData& other);
    T_BinaryData& operator=(const std::string& s);
    ~T_BinaryData() = default;

    // Access
    unsigned long Length() const { return m_ref.GetLength(); }
    const unsigned char* GetData() const { return m_ref.GetData(); }
    unsigned char* Data() { return m_ref.Data(); }
    unsigned char operator[](unsigned long i) const { return GetData()[i]; }
    const TSharedDataRef& GetDataRef() const { return m_ref; }
    void Clear() { m_ref.Clear(); }
    bool OnlyZeroes() const;

    // Slicing and editing. Offsets beyond the end are reduced to the length,
    // counts to what is left from the offset.
    T_BinaryData Copy(unsigned long offset, unsigned long count) const;
    // Removes the range and returns it. Removing from either end moves no
    // bytes, so a queue cut portion by portion costs linear time overall.
    T_BinaryData Cut(unsigned long offset, unsigned long count);
    void Paste(unsigned long pos, const unsigned char* src, unsigned long len);
    void Paste(unsigned long pos, const T_BinaryData& src);
    void Paste(unsigned long pos, const std::string& src);
    void Replace(unsigned long pos, unsigned long removeCount, const unsigned char* src,
                 unsigned long len);
    void Replace(unsigned long pos, unsigned long removeCount, const T_BinaryData& src);
    void Replace(unsigned long pos, unsigned long removeCount, const std::string& src);
    void Add(const unsigned char* src, unsigned long len);
    T_BinaryData& operator+=(const T_BinaryData& other);
    T_BinaryData operator+(const T_BinaryData& other) const;
    void AddDirectBytes(unsigned char b, unsigned long n);
    T_BinaryData AddBytes(unsigned char b, unsigned long n) const;
    // Exactly count bytes from offset on, padded with 0x00 past the end.
    T_BinaryData CopyZeroPadded(unsigned long offset, unsigned long count) const;
    // This buffer without its trailing run of bytes equal to b.
    T_BinaryData TrimTrailingBytes(unsigned char b) const;

    // Numeric readers: 0 when the bytes are missing.
    unsigned short LsbWord(unsigned long offset) const;
    unsigned short MsbWord(unsigned long offset) const;
    unsigned long LsbDword(unsigned long offset) const;
    unsigned long MsbDword(unsigned long offset) const;
    long ToInt(unsigned long offset, unsigned long count) const;
    // A 12-digit packed-BCD amount; 0xFFFFFFFF above the largest 32-bit one.
    unsigned long AsBcdAmount() const;

    // Text conversions. ToString's count 0 (or 0xFFFFFFFF) means to the end.
    std::string ToString(unsigned long offset = 0, unsigned long count = 0) const;
    std::string ToAscii() const;
    std::string ToAsciiTrimF() const;
    void FromAscii(const std::string& hex);
    T_BinaryData AsciiToBinary() const;
    std::string EncodeToBase64() const;
    // Replaces the contents by the decoded bytes; false, and empty, for text
    // that is not Base64.
    bool DecodeFromBase64(const char* text, int size);
    bool DecodeFromBase64(const std::string& text);

    // Bitwise and arithmetic operations
    T_BinaryData operator&(const T_BinaryData& other) const;
    T_BinaryData operator|(const T_BinaryData& other) const;
    T_BinaryData operator^(const T_BinaryData& other) const;
    T_BinaryData operator~() const;
    T_BinaryData& operator^=(const T_BinaryData& other);
    void AddByteToByte(const T_BinaryData& other);
    void IncrementAsLSB();
    void IncrementAsMSB();
    T_BinaryData ForceOddBits() const;
    T_BinaryData ForceEvenBits() const;

    // Comparisons
    bool operator==(const T_BinaryData& other) const;
    bool operator!=(const T_BinaryData& other) const;
    bool operator<(const T_BinaryData& other) const;
    bool operator<=(const T_BinaryData& other) const;

    // File input and output. ReadFromFile replaces the contents by the bytes
    // one read of the whole file delivers; nothing when the read fails.
    void SaveToFile(IFileWritable& f) const;
    void ReadFromFile(IFileReadable& f);

  private:
    // Whether count bytes at offset lie inside the buffer.
    bool Holds(unsigned long offset, unsigned long count) const;

    TSharedDataRef m_ref;
};

T_BinaryData BinaryDataFromRepeatedByte(unsigned char b, unsigned long n);
T_BinaryData BinaryDataFromLsbWord(unsigned short w);
T_BinaryData BinaryDataFromMsbWord(unsigned short w);
T_BinaryData BinaryDataFromInt(unsigned long v);
T_BinaryData GetBcdDataFromString(const std::string& hex);
