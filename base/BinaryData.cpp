#include "base/BinaryData.h"

#include "base/Conversions.h"
#include "base/FileStream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::uint64_t kMaxLength = 0xFFFFFFFFULL;

// memmove/memcpy/memset are undefined for null pointers even with a zero
// count, and an empty block has no bytes at all.
void MoveBytes(unsigned char* dst, const unsigned char* src, std::uint64_t count) {
    if (count != 0) {
        std::memmove(dst, src, count);
    }
}

void FillBytes(unsigned char* dst, unsigned char b, std::uint64_t count) {
    if (count != 0) {
        std::memset(dst, b, count);
    }
}

std::uint32_t CheckedLength(std::uint64_t length) {
    if (length > kMaxLength) {
        throw std::length_error("T_BinaryData: length beyond 32 bits");
    }
    return static_cast<std::uint32_t>(length);
}

// Reduces offset and count to the buffer: count 0xFFFFFFFF means to the end.
void ClampRange(unsigned long length, unsigned long& offset, unsigned long& count) {
    offset = std::min(offset, length);
    if (count == T_BinaryData::kToEnd || count > length - offset) {
        count = length - offset;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// TSharedDataRef::TSharedData

TSharedDataRef::TSharedData::TSharedData(bool own, const unsigned char* p, unsigned long len)
    : m_bytes(const_cast<unsigned char*>(p)),
      m_length(CheckedLength(len)),
      m_capacity(own ? m_length : 0),
      m_refCount(0) {
    // An adopted array without bytes is still an allocation of its own.
    if (own && len == 0) {
        delete[] p;
        m_bytes = nullptr;
    }
}

TSharedDataRef::TSharedData::TSharedData(const unsigned char* src, unsigned long len,
                                         unsigned long block)
    : m_bytes(nullptr), m_length(CheckedLength(len)), m_capacity(m_length), m_refCount(0) {
    if (len == 0) {
        return;
    }
    const bool rounded = block > 1 && len % block != 0;
    if (rounded) {
        m_length = m_capacity =
            CheckedLength((len / block + 1) * static_cast<std::uint64_t>(block));
    }
    m_bytes = new unsigned char[m_capacity];
    if (src == nullptr || rounded) {
        FillBytes(m_bytes, 0x00, m_capacity);
    }
    if (src != nullptr) {
        std::memcpy(m_bytes, src, len);
    }
}

TSharedDataRef::TSharedData::~TSharedData() {
    if (m_capacity != 0) {
        delete[] m_bytes;
    }
}

void TSharedDataRef::TSharedData::Push() {
    ++m_refCount;
}

void TSharedDataRef::TSharedData::Pop() {
    if (--m_refCount == 0) {
        delete this;
    }
}

void TSharedDataRef::TSharedData::SetLength(unsigned long length) {
    m_length = CheckedLength(length);
}

void TSharedDataRef::TSharedData::DeleteData(unsigned long pos, unsigned long count) {
    pos = std::min<unsigned long>(pos, m_length);
    count = std::min<unsigned long>(count, m_length - pos);
    MoveBytes(m_bytes + pos, m_bytes + pos + count, m_length - pos - count);
    m_length -= static_cast<std::uint32_t>(count);
}

std::uint32_t TSharedDataRef::TSharedData::OpenGap(std::uint32_t& start, std::uint32_t pos,
                                                   std::uint32_t removeCount,
                                                   std::uint32_t insertCount) {
    const std::uint64_t used = m_length - start;
    const std::uint64_t newUsed = used - removeCount + insertCount;
    CheckedLength(newUsed);
    const std::uint32_t tailFrom = start + pos + removeCount;
    const std::uint64_t tailLength = m_length - tailFrom;

    if (start + newUsed <= m_capacity) {
        // Room behind the used bytes: edit in place.
        MoveBytes(m_bytes + start + pos + insertCount, m_bytes + tailFrom, tailLength);
    } else if (newUsed <= m_capacity && start >= used) {
        // Bytes removed from the front left at least as much dead room as
        // there are bytes to move, so moving them down is paid for by those
        // removals and repeated front removals stay linear overall.
        MoveBytes(m_bytes, m_bytes + start, pos);
        MoveBytes(m_bytes + pos + insertCount, m_bytes + tailFrom, tailLength);
        start = 0;
    } else {
        const std::int64_t growth =
            static_cast<std::int64_t>(newUsed) - static_cast<std::int64_t>(used);
        const std::uint64_t wanted = std::max<std::uint64_t>(2ULL * m_capacity, used + 2 * growth);
        const auto capacity = static_cast<std::uint32_t>(std::min(wanted, kMaxLength));
        auto* bytes = new unsigned char[capacity];
        MoveBytes(bytes, m_bytes + start, pos);
        MoveBytes(bytes + pos + insertCount, m_bytes + tailFrom, tailLength);
        delete[] m_bytes;
        m_bytes = bytes;
        m_capacity = capacity;
        start = 0;
    }
    m_length = static_cast<std::uint32_t>(start + newUsed);
    return start + pos;
}

unsigned long TSharedDataRef::TSharedData::ReplaceData(unsigned long start, unsigned long pos,
                                                       const unsigned char* src, unsigned long len,
                                                       unsigned long removeCount) {
    auto first = static_cast<std::uint32_t>(start);
    const std::uint32_t gap = OpenGap(first, static_cast<std::uint32_t>(pos),
                                      static_cast<std::uint32_t>(removeCount), CheckedLength(len));
    MoveBytes(m_bytes + gap, src, len);
    return first;
}

unsigned long TSharedDataRef::TSharedData::InsertDirectBytes(unsigned long start, unsigned long pos,
                                                             unsigned char b, unsigned long count) {
    auto first = static_cast<std::uint32_t>(start);
    const std::uint32_t gap =
        OpenGap(first, static_cast<std::uint32_t>(pos), 0, CheckedLength(count));
    FillBytes(m_bytes + gap, b, count);
    return first;
}

// ---------------------------------------------------------------------------
// TSharedDataRef

namespace {

// A borrowed block points into memory of the caller's, which may not outlive
// a new view: such views take their own copy at once.
bool IsBorrowed(const TSharedDataRef::TSharedData& storage) {
    return !storage.IsAllocated() && storage.GetData() != nullptr;
}

}  // namespace

TSharedDataRef::TSharedDataRef() : m_storage(nullptr), m_offset(0), m_length(0) {
    Attach(new TSharedData(false, nullptr, 0));
}

TSharedDataRef::TSharedDataRef(bool own, const unsigned char* p, unsigned long len)
    : m_storage(nullptr), m_offset(0), m_length(CheckedLength(len)) {
    Attach(new TSharedData(own, p, len));
}

TSharedDataRef::TSharedDataRef(const unsigned char* src, unsigned long len, unsigned long block)
    : m_storage(nullptr), m_offset(0), m_length(0) {
    Attach(new TSharedData(src, len, block));
    m_length = static_cast<std::uint32_t>(m_storage->GetLength());
}

TSharedDataRef::TSharedDataRef(const TSharedDataRef& ref, unsigned long offset,
                               unsigned long length)
    : m_storage(nullptr), m_offset(0), m_length(0) {
    // The slicing operations clamp before they get here; clamping again keeps
    // a direct caller's view inside ref's bytes, and makes 0xFFFFFFFF mean
    // "to the end" from any offset.
    ClampRange(ref.m_length, offset, length);
    m_length = static_cast<std::uint32_t>(length);
    if (IsBorrowed(*ref.m_storage)) {
        Attach(new TSharedData(ref.GetData() + offset, length, 0));
    } else {
        Attach(ref.m_storage);
        m_offset = static_cast<std::uint32_t>(ref.m_offset + offset);
    }
}

TSharedDataRef::TSharedDataRef(const TSharedDataRef& other)
    : TSharedDataRef(other, 0, other.m_length) {}

TSharedDataRef& TSharedDataRef::operator=(const TSharedDataRef& other) {
    if (this != &other) {
        TSharedDataRef copy(other);
        std::swap(m_storage, copy.m_storage);
        std::swap(m_offset, copy.m_offset);
        std::swap(m_length, copy.m_length);
    }
    return *this;
}

TSharedDataRef::~TSharedDataRef() {
    m_storage->Pop();
}

void TSharedDataRef::Attach(TSharedData* storage) {
    storage->Push();
    m_storage = storage;
}

void TSharedDataRef::Clone() {
    if (m_storage->IsSingleOwner() && !IsBorrowed(*m_storage)) {
        // Sole holder: bytes behind the view are dead. Bytes in front of it
        // stay where they are; the edits reuse or drop that room as they go.
        m_storage->SetLength(m_offset + m_length);
        return;
    }
    TSharedData* own = new TSharedData(GetData(), m_length, 0);
    m_storage->Pop();
    Attach(own);
    m_offset = 0;
}

unsigned char* TSharedDataRef::Data() {
    Clone();
    return m_storage->GetData() == nullptr ? nullptr : m_storage->GetData() + m_offset;
}

const unsigned char* TSharedDataRef::GetData() const {
    const unsigned char* bytes = m_storage->GetData();
    return bytes == nullptr ? nullptr : bytes + m_offset;
}

void TSharedDataRef::DeleteData(unsigned long pos, unsigned long count) {
    ClampRange(m_length, pos, count);
    if (count == 0) {
        return;
    }
    // Removing from either end only narrows the view; the block is untouched,
    // so this needs no copy even while the block is shared.
    if (pos == 0) {
        m_offset += static_cast<std::uint32_t>(count);
        m_length -= static_cast<std::uint32_t>(count);
        return;
    }
    if (pos + count == m_length) {
        m_length -= static_cast<std::uint32_t>(count);
        return;
    }
    Clone();
    m_storage->DeleteData(m_offset + pos, count);
    m_length = static_cast<std::uint32_t>(m_storage->GetLength() - m_offset);
}

void TSharedDataRef::InsertDirectBytes(unsigned long pos, unsigned char b, unsigned long count) {
    if (count == 0) {
        return;
    }
    Clone();
    pos = std::min<unsigned long>(pos, m_length);
    m_offset = static_cast<std::uint32_t>(m_storage->InsertDirectBytes(m_offset, pos, b, count));
    m_length = static_cast<std::uint32_t>(m_storage->GetLength() - m_offset);
}

void TSharedDataRef::ReplaceData(unsigned long pos, unsigned long removeCount,
                                 const unsigned char* src, unsigned long len) {
    if (len == 0) {
        return;
    }
    Clone();
    ClampRange(m_length, pos, removeCount);
    // The source may lie inside this very block, which the edit moves or
    // releases: take it aside first.
    std::vector<unsigned char> aside;
    const unsigned char* bytes = m_storage->GetData();
    const std::less_equal<const unsigned char*> notAfter;
    if (bytes != nullptr && notAfter(bytes, src) &&
        !notAfter(bytes + m_storage->GetCapacity(), src)) {
        aside.assign(src, src + len);
        src = aside.data();
    }
    m_offset =
        static_cast<std::uint32_t>(m_storage->ReplaceData(m_offset, pos, src, len, removeCount));
    m_length = static_cast<std::uint32_t>(m_storage->GetLength() - m_offset);
}

bool TSharedDataRef::operator==(const TSharedDataRef& other) const {
    return m_length == other.m_length &&
           (m_length == 0 || std::memcmp(GetData(), other.GetData(), m_length) == 0);
}

// ---------------------------------------------------------------------------
// T_BinaryData: construction, access, slicing and editing

namespace {

const unsigned char* BytesOf(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

T_BinaryData::T_BinaryData() = default;

T_BinaryData::T_BinaryData(const unsigned char* src, unsigned long len, unsigned long block)
    : m_ref(src, len, block) {}

T_BinaryData::T_BinaryData(unsigned char b) : m_ref(&b, 1, 0) {}

T_BinaryData::T_BinaryData(const std::string& s) : m_ref(BytesOf(s), s.size(), 0) {}

T_BinaryData::T_BinaryData(bool own, const unsigned char* p, unsigned long len)
    : m_ref(own, p, len) {}

T_BinaryData::T_BinaryData(const TSharedDataRef& ref, unsigned long offset, unsigned long length)
    : m_ref(ref, offset, length) {}

T_BinaryData::T_BinaryData(IFileReadable& f) {
    ReadFromFile(f);
}

T_BinaryData::T_BinaryData(const T_BinaryData& other) = default;

T_BinaryData& T_BinaryData::operator=(const T_BinaryData& other) = default;

T_BinaryData& T_BinaryData::operator=(const std::string& s) {
    m_ref = TSharedDataRef(BytesOf(s), s.size(), 0);
    return *this;
}

bool T_BinaryData::OnlyZeroes() const {
    const unsigned char* bytes = GetData();
    return std::all_of(bytes, bytes + Length(), [](unsigned char b) { return b == 0x00; });
}

T_BinaryData T_BinaryData::Copy(unsigned long offset, unsigned long count) const {
    ClampRange(Length(), offset, count);
    return T_BinaryData(m_ref, offset, count);
}

T_BinaryData T_BinaryData::Cut(unsigned long offset, unsigned long count) {
    ClampRange(Length(), offset, count);
    // A buffer that alone holds its block keeps it that way: the cut range
    // leaves as a copy of its own, so that later appends (a queue being
    // refilled while the portion is still in use) work in place instead of
    // copying everything that is left.
    const bool keepSole = m_ref.GetDataLink()->IsSingleOwner() && count < Length();
    T_BinaryData range =
        keepSole ? T_BinaryData(GetData() + offset, count) : T_BinaryData(m_ref, offset, count);
    m_ref.DeleteData(offset, count);
    return range;
}

void T_BinaryData::Paste(unsigned long pos, const unsigned char* src, unsigned long len) {
    m_ref.ReplaceData(pos, 0, src, len);
}

void T_BinaryData::Paste(unsigned long pos, const T_BinaryData& src) {
    Paste(pos, src.GetData(), src.Length());
}

void T_BinaryData::Paste(unsigned long pos, const std::string& src) {
    Paste(pos, BytesOf(src), src.size());
}

void T_BinaryData::Replace(unsigned long pos, unsigned long removeCount, const unsigned char* src,
                           unsigned long len) {
    m_ref.ReplaceData(pos, removeCount, src, len);
}

void T_BinaryData::Replace(unsigned long pos, unsigned long removeCount, const T_BinaryData& src) {
    Replace(pos, removeCount, src.GetData(), src.Length());
}

void T_BinaryData::Replace(unsigned long pos, unsigned long removeCount, const std::string& src) {
    Replace(pos, removeCount, BytesOf(src), src.size());
}

void T_BinaryData::Add(const unsigned char* src, unsigned long len) {
    m_ref.ReplaceData(Length(), 0, src, len);
}

T_BinaryData& T_BinaryData::operator+=(const T_BinaryData& other) {
    Add(other.GetData(), other.Length());
    return *this;
}

T_BinaryData T_BinaryData::operator+(const T_BinaryData& other) const {
    T_BinaryData sum(*this);
    sum += other;
    return sum;
}

void T_BinaryData::AddDirectBytes(unsigned char b, unsigned long n) {
    m_ref.InsertDirectBytes(Length(), b, n);
}

T_BinaryData T_BinaryData::AddBytes(unsigned char b, unsigned long n) const {
    T_BinaryData extended(*this);
    extended.AddDirectBytes(b, n);
    return extended;
}

T_BinaryData T_BinaryData::CopyZeroPadded(unsigned long offset, unsigned long count) const {
    if (offset > Length()) {
        return T_BinaryData(nullptr, count);
    }
    const unsigned long available = Length() - offset;
    if (count <= available) {
        return T_BinaryData(m_ref, offset, count);
    }
    T_BinaryData padded(m_ref, offset, available);
    padded.AddDirectBytes(0x00, count - available);
    return padded;
}

T_BinaryData T_BinaryData::TrimTrailingBytes(unsigned char b) const {
    unsigned long kept = Length();
    while (kept > 0 && (*this)[kept - 1] == b) {
        --kept;
    }
    return T_BinaryData(m_ref, 0, kept);
}

// ---------------------------------------------------------------------------
// T_BinaryData: builders, bytewise operations and comparisons

T_BinaryData BinaryDataFromRepeatedByte(unsigned char b, unsigned long n) {
    auto* bytes = new unsigned char[n];
    FillBytes(bytes, b, n);
    return T_BinaryData(true, bytes, n);
}

T_BinaryData BinaryDataFromLsbWord(unsigned short w) {
    unsigned char bytes[2];
    return T_BinaryData(WORD_TO_LSB(w, bytes), sizeof bytes);
}

T_BinaryData BinaryDataFromMsbWord(unsigned short w) {
    unsigned char bytes[2];
    return T_BinaryData(WORD_TO_MSB(w, bytes), sizeof bytes);
}

T_BinaryData BinaryDataFromInt(unsigned long v) {
    unsigned char bytes[4];
    return T_BinaryData(DWORD_TO_MSB(static_cast<std::uint32_t>(v), bytes), sizeof bytes);
}

T_BinaryData GetBcdDataFromString(const std::string& hex) {
    T_BinaryData data;
    data.FromAscii(hex);
    return data;
}

namespace {

// target's byte i := combine(target's byte i, other's byte i) for the common
// length; the length does not change.
template <typename Combine>
void CombineInPlace(T_BinaryData& target, const T_BinaryData& other, Combine combine) {
    const unsigned long common = std::min(target.Length(), other.Length());
    if (common == 0) {
        return;
    }
    const T_BinaryData source = other;  // keeps its bytes should other be target
    unsigned char* bytes = target.Data();
    for (unsigned long i = 0; i < common; ++i) {
        bytes[i] = combine(bytes[i], source[i]);
    }
}

// A copy of the longer operand (a when the lengths are equal) combined with the
// shorter one over their common length; combine must be commutative.
template <typename Combine>
T_BinaryData CombineBytewise(const T_BinaryData& a, const T_BinaryData& b, Combine combine) {
    const bool bIsLonger = b.Length() > a.Length();
    T_BinaryData result = bIsLonger ? b : a;
    CombineInPlace(result, bIsLonger ? a : b, combine);
    return result;
}

// Bit 7 toggled once for every bit among bits 0-6 that counts.
template <typename Counts>
T_BinaryData WithParityBit(const T_BinaryData& source, Counts counts) {
    T_BinaryData result = source;
    if (result.Length() == 0) {
        return result;
    }
    unsigned char* bytes = result.Data();
    for (unsigned long i = 0; i < result.Length(); ++i) {
        const int toggles = counts(static_cast<unsigned char>(bytes[i] & 0x7F));
        if (toggles % 2 != 0) {
            bytes[i] ^= 0x80;
        }
    }
    return result;
}

// Adds 1 to the number whose digits are visited from least significant up.
template <typename Iterator>
void IncrementDigits(Iterator first, Iterator last) {
    for (; first != last; ++first) {
        if (++*first != 0x00) {
            return;
        }
    }
}

}  // namespace

T_BinaryData T_BinaryData::operator&(const T_BinaryData& other) const {
    return CombineBytewise(*this, other, [](unsigned char a, unsigned char b) { return a & b; });
}

T_BinaryData T_BinaryData::operator|(const T_BinaryData& other) const {
    return CombineBytewise(*this, other, [](unsigned char a, unsigned char b) { return a | b; });
}

T_BinaryData T_BinaryData::operator^(const T_BinaryData& other) const {
    return CombineBytewise(*this, other, [](unsigned char a, unsigned char b) { return a ^ b; });
}

T_BinaryData T_BinaryData::operator~() const {
    T_BinaryData result = *this;
    if (result.Length() != 0) {
        unsigned char* bytes = result.Data();
        std::transform(bytes, bytes + result.Length(), bytes,
                       [](unsigned char b) { return static_cast<unsigned char>(~b); });
    }
    return result;
}

T_BinaryData& T_BinaryData::operator^=(const T_BinaryData& other) {
    CombineInPlace(*this, other, [](unsigned char a, unsigned char b) { return a ^ b; });
    return *this;
}

void T_BinaryData::AddByteToByte(const T_BinaryData& other) {
    CombineInPlace(*this, other, [](unsigned char a, unsigned char b) { return a + b; });
}

void T_BinaryData::IncrementAsLSB() {
    if (Length() != 0) {
        unsigned char* bytes = Data();
        IncrementDigits(bytes, bytes + Length());
    }
}

void T_BinaryData::IncrementAsMSB() {
    if (Length() != 0) {
        unsigned char* bytes = Data();
        IncrementDigits(std::reverse_iterator(bytes + Length()), std::reverse_iterator(bytes));
    }
}

T_BinaryData T_BinaryData::ForceOddBits() const {
    return WithParityBit(*this, [](unsigned char low) { return 7 - std::popcount(low); });
}

T_BinaryData T_BinaryData::ForceEvenBits() const {
    return WithParityBit(*this, [](unsigned char low) { return std::popcount(low); });
}

bool T_BinaryData::operator==(const T_BinaryData& other) const {
    return m_ref == other.m_ref;
}

bool T_BinaryData::operator!=(const T_BinaryData& other) const {
    return !(*this == other);
}

bool T_BinaryData::operator<(const T_BinaryData& other) const {
    return std::lexicographical_compare(GetData(), GetData() + Length(), other.GetData(),
                                        other.GetData() + other.Length());
}

bool T_BinaryData::operator<=(const T_BinaryData& other) const {
    return !(other < *this);
}

// ---------------------------------------------------------------------------
// T_BinaryData: numeric readers and text conversions

namespace {

const char* CharsOf(const T_BinaryData& data) {
    return reinterpret_cast<const char*>(data.GetData());
}

}  // namespace

bool T_BinaryData::Holds(unsigned long offset, unsigned long count) const {
    return count <= Length() && offset <= Length() - count;
}

unsigned short T_BinaryData::LsbWord(unsigned long offset) const {
    return Holds(offset, 2) ? LSB_TO_WORD(GetData() + offset) : 0;
}

unsigned short T_BinaryData::MsbWord(unsigned long offset) const {
    return Holds(offset, 2) ? MSB_TO_WORD(GetData() + offset) : 0;
}

unsigned long T_BinaryData::LsbDword(unsigned long offset) const {
    return Holds(offset, 4) ? LSB_TO_DWORD(GetData() + offset) : 0;
}

unsigned long T_BinaryData::MsbDword(unsigned long offset) const {
    return Holds(offset, 4) ? MSB_TO_DWORD(GetData() + offset) : 0;
}

long T_BinaryData::ToInt(unsigned long offset, unsigned long count) const {
    ClampRange(Length(), offset, count);
    return count == 0 ? 0 : StrToInt(CharsOf(*this) + offset, count);
}

unsigned long T_BinaryData::AsBcdAmount() const {
    // The largest amount a 32-bit value holds, as 12 packed BCD digits.
    static const unsigned char kLargest[] = {0x00, 0x42, 0x94, 0x96, 0x72, 0x95};
    if (T_BinaryData(false, kLargest, sizeof kLargest) < *this) {
        return 0xFFFFFFFFUL;
    }
    // Folded as an unsigned number, so that amounts from 2147483648 up to the
    // largest one come out right instead of overflowing a signed one. A longer
    // buffer may still spell more than 32 bits: it answers the same 0xFFFFFFFF
    // as any other amount too large.
    std::uint64_t amount = 0;
    for (const char digit : ToAscii()) {
        amount = amount * 10 + static_cast<std::uint64_t>(digit - '0');
        if (amount > 0xFFFFFFFFULL) {
            return 0xFFFFFFFFUL;
        }
    }
    return static_cast<unsigned long>(amount);
}

std::string T_BinaryData::ToString(unsigned long offset, unsigned long count) const {
    if (count == 0) {
        count = kToEnd;
    }
    ClampRange(Length(), offset, count);
    return count == 0 ? std::string() : std::string(CharsOf(*this) + offset, count);
}

std::string T_BinaryData::ToAscii() const {
    std::string text(2 * Length(), '\0');
    if (Length() != 0) {
        BytesToHex(GetData(), text.data(), Length());
    }
    return text;
}

std::string T_BinaryData::ToAsciiTrimF() const {
    std::string text = ToAscii();
    if (!text.empty() && text.back() == 'F') {
        text.pop_back();
    }
    return text;
}

void T_BinaryData::FromAscii(const std::string& hex) {
    const std::string padded = hex.size() % 2 == 0 ? hex : hex + 'F';
    const unsigned long count = padded.size() / 2;
    // Bytes past the first character that is not a hex digit stay 0x00.
    auto* bytes = new unsigned char[count]();
    HexToBytes(padded.data(), bytes, static_cast<int>(padded.size()));
    *this = T_BinaryData(true, bytes, count);
}

T_BinaryData T_BinaryData::AsciiToBinary() const {
    return GetBcdDataFromString(ToString(0, 0));
}

std::string T_BinaryData::EncodeToBase64() const {
    if (Length() == 0) {
        return std::string();
    }
    std::string text(4 * ((Length() + 2) / 3), '\0');
    int written = 0;
    R_EncodePEMBlock(text.data(), &written, GetData(), static_cast<int>(Length()));
    text.resize(static_cast<std::size_t>(written));
    return text;
}

bool T_BinaryData::DecodeFromBase64(const char* text, int size) {
    const unsigned long capacity = size > 0 ? 3UL * static_cast<unsigned long>(size) / 4 : 0;
    auto bytes = std::make_unique<unsigned char[]>(capacity);
    int decoded = 0;
    if (R_DecodePEMBlock(bytes.get(), &decoded, text, size) != 0) {
        Clear();
        return false;
    }
    *this = T_BinaryData(true, bytes.release(), static_cast<unsigned long>(decoded));
    return true;
}

bool T_BinaryData::DecodeFromBase64(const std::string& text) {
    return DecodeFromBase64(text.data(), static_cast<int>(text.size()));
}

// ---------------------------------------------------------------------------
// T_BinaryData: file input and output

void T_BinaryData::SaveToFile(IFileWritable& f) const {
    if (Length() != 0) {
        f.Write(GetData(), Length());
    }
}

void T_BinaryData::ReadFromFile(IFileReadable& f) {
    Clear();
    const long length = f.GetLength();
    if (length <= 0) {
        return;  // empty, or the length could not be found out
    }
    auto bytes = std::make_unique<unsigned char[]>(static_cast<std::size_t>(length));
    const long read = f.Read(bytes.get(), static_cast<unsigned long>(length));
    if (read <= 0) {
        return;  // a failed read leaves the buffer empty
    }
    *this = T_BinaryData(true, bytes.release(), static_cast<unsigned long>(std::min(read, length)));
}
