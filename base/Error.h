#pragma once

#include <cstdint>
#include <optional>

// Reference-count helpers. The system is single-threaded, so these are plain
// counters; every count of an error record changes only through them.
unsigned long atomic_increment(unsigned long& n);
unsigned long atomic_decrement(unsigned long& n);

// Heap record shared by Error handles: a code and an optional cause. A record
// held by more than one holder (handles or parent records) is never changed.
struct ErrorData {
    explicit ErrorData(unsigned long code);
    ErrorData(const ErrorData&) = delete;
    ErrorData& operator=(const ErrorData&) = delete;

    // A new record with the same code and no cause; the chain is not copied.
    ErrorData* MakeCopy() const;

    unsigned long refCount;
    std::uint32_t code;
    ErrorData* subError;
};

// Result of an operation: code 0 is success. A lower layer's failure hangs
// below as a sub-error; only the outermost code is ever examined by callers.
class [[nodiscard]] Error {
  public:
    Error(unsigned long code = 0);
    Error(const Error& other);
    Error& operator=(const Error& other);
    ~Error();

    unsigned long Code() const;
    operator unsigned long() const { return Code(); }

    // Makes other the cause of this error, replacing any previous cause. A
    // record shared with other handles is copied first so they keep theirs.
    Error& AddSubError(const Error& other);

    // The cause attached to this error, if any. Diagnostic read-back only.
    std::optional<Error> Sub() const;

  private:
    struct Hold {};
    Error(Hold, ErrorData* record);  // takes a new hold on record

    // Drops one hold on record and frees every record of the chain that is
    // no longer held by anyone.
    static void DeleteData(ErrorData* record);

    ErrorData* m_data;
};

// Error(code) with the current errno attached as its cause (when code != 0).
class ErrnoError : public Error {
  public:
    explicit ErrnoError(unsigned long code);
};

// What LinError adds to errno for its cause.
inline constexpr unsigned long kLinErrnoBase = 22000;

// Error(code) with 22000 + errno attached as its cause (when code != 0).
class LinError : public Error {
  public:
    explicit LinError(unsigned long code);
};

// Error(code) with Error(detail) attached as its cause (when code != 0).
class SubError : public Error {
  public:
    SubError(unsigned long code, unsigned long detail);
};
