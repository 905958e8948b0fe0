#include "base/Error.h"

#include <cerrno>

unsigned long atomic_increment(unsigned long& n) {
    return ++n;
}

unsigned long atomic_decrement(unsigned long& n) {
    return --n;
}

ErrorData::ErrorData(unsigned long code)
    : refCount(1), code(static_cast<std::uint32_t>(code)), subError(nullptr) {}

ErrorData* ErrorData::MakeCopy() const {
    return new ErrorData(code);
}

Error::Error(unsigned long code) : m_data(new ErrorData(code)) {}

Error::Error(Hold, ErrorData* record) : m_data(record) {
    if (m_data != nullptr) {
        atomic_increment(m_data->refCount);
    }
}

Error::Error(const Error& other) : Error(Hold{}, other.m_data) {}

Error& Error::operator=(const Error& other) {
    // Hold the new record before letting go of the old one: self-assignment
    // and assignment from our own cause stay safe.
    if (other.m_data != nullptr) {
        atomic_increment(other.m_data->refCount);
    }
    DeleteData(m_data);
    m_data = other.m_data;
    return *this;
}

Error::~Error() {
    DeleteData(m_data);
}

unsigned long Error::Code() const {
    return m_data != nullptr ? m_data->code : 0;
}

Error& Error::AddSubError(const Error& other) {
    ErrorData* cause = other.m_data;
    if (cause != nullptr) {
        atomic_increment(cause->refCount);
    }
    if (m_data == nullptr) {
        m_data = cause;
        return *this;
    }
    if (m_data->refCount == 1) {
        DeleteData(m_data->subError);
        m_data->subError = cause;
        return *this;
    }
    ErrorData* copy = m_data->MakeCopy();
    copy->subError = cause;
    DeleteData(m_data);
    m_data = copy;
    return *this;
}

std::optional<Error> Error::Sub() const {
    if (m_data == nullptr || m_data->subError == nullptr) {
        return std::nullopt;
    }
    return Error(Hold{}, m_data->subError);
}

void Error::DeleteData(ErrorData* record) {
    while (record != nullptr) {
        if (atomic_decrement(record->refCount) != 0) {
            return;
        }
        ErrorData* cause = record->subError;
        delete record;
        record = cause;
    }
}

// errno is read while the arguments are evaluated, before any allocation.
ErrnoError::ErrnoError(unsigned long code)
    : Error(SubError(code, static_cast<unsigned long>(errno))) {}

LinError::LinError(unsigned long code)
    : Error(SubError(code, kLinErrnoBase + static_cast<unsigned long>(errno))) {}

SubError::SubError(unsigned long code, unsigned long detail) : Error(code) {
    if (code != 0) {
        AddSubError(Error(detail));
    }
}
