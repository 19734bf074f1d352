// The Velmar host's interface as the module is compiled against it: the
// array library (vornArray and its functions) and the error library.
#pragma once

#include <boost/exception/exception.hpp>
#include <boost/variant.hpp>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

// ---------------------------------------------------------------- arrays

// Class values. Double is 6; a stored value above 16 means the class is held
// in the array's extended descriptor and must be asked for out of line.
enum vornClassID : int {
    vornClassUnknown = 0,
    vornClassLogical = 1,
    vornClassChar = 2,
    vornClassInt8 = 3,
    vornClassUint8 = 4,
    vornClassInt32 = 5,
    vornClassDouble = 6,
    vornClassSingle = 7,
    vornClassInt16 = 8,
    vornClassUint16 = 9,
    vornClassUint32 = 10,
    vornClassInt64 = 11,
    vornClassUint64 = 12,
    vornClassCell = 13,
    vornClassStruct = 14,
    vornClassFunction = 15,
    vornClassOpaque = 16,
    vornClassExtended = 17,
};

enum vornComplexity : int { vornReal = 0, vornComplex = 1 };

constexpr int kVornLastTrivialClass = 16;

// Host-owned array handle. The module reads these fields in place through the
// inline accessors below; everything behind `host` is the host's own.
struct vornArray_tag {
    int classValue;  // stored class value; above 16: see descriptor
    bool sparse;
    vornComplexity complexity;
    mutable bool dimsPending;     // first dimension not yet completed
    mutable std::size_t m;        // first dimension, valid when !dimsPending
    std::size_t n;                // columns: product of the trailing dimensions
    void* realData;               // dense: m*n elements; sparse: one per entry
    void* imagData;               // complex arrays only, else null
    std::uint64_t* rowIndices;    // sparse only: row of each stored entry
    std::uint64_t* columnStarts;  // sparse only: n + 1 column starts
    void* host;                   // host bookkeeping (storage, descriptor)

    vornClassID _get_class_id_non_trivial() const;
    void _complete_opaque_dimensions() const;
};
typedef struct vornArray_tag vornArray;

inline vornClassID vornGetClassID(const vornArray* a) {
    if (a->classValue > kVornLastTrivialClass) return a->_get_class_id_non_trivial();
    return static_cast<vornClassID>(a->classValue);
}

inline bool vornIsSparse(const vornArray* a) { return a->sparse; }

inline std::size_t vornGetM(const vornArray* a) {
    if (a->dimsPending) a->_complete_opaque_dimensions();
    return a->m;
}

inline void* vornGetRealData(const vornArray* a) { return a->realData; }
inline std::uint64_t* vornGetRowIndices(const vornArray* a) { return a->rowIndices; }
inline std::uint64_t* vornGetColumnStarts(const vornArray* a) { return a->columnStarts; }

namespace matrix::detail::noninlined::vorn_array_api {

std::size_t vornGetN(const vornArray* a);
bool vornIsEmpty(const vornArray* a);
double vornGetScalar(const vornArray* a);
// Copies at most len - 1 characters of character data and a NUL into buf.
// Returns 0 when the whole text fitted, 1 when it was cut or a is not text
// (buf is then left as it was).
int vornGetString(const vornArray* a, char* buf, std::size_t len);
vornArray* vornCreateNumericMatrix(std::size_t m, std::size_t n, vornClassID classId,
                                   vornComplexity complexity);

}  // namespace matrix::detail::noninlined::vorn_array_api

// ---------------------------------------------------------------- errors

namespace resource_core {

// A message identifier: catalog, key and the message's arguments.
class BaseMsgID {
public:
    using Argument = boost::variant<long, std::string, std::u16string>;

    BaseMsgID(std::string catalog, std::string key);
    BaseMsgID(std::string catalog, std::string key, std::vector<Argument> arguments);
    BaseMsgID(const BaseMsgID& other);
    BaseMsgID& operator=(const BaseMsgID& other);
    ~BaseMsgID();

    const std::vector<Argument>& arguments() const { return args_; }
    const std::string& catalog() const { return catalog_; }
    const std::string& key() const { return key_; }

private:
    std::vector<Argument> args_;
    std::string catalog_;
    std::string key_;
};

bool operator==(const BaseMsgID& a, const BaseMsgID& b);

}  // namespace resource_core

namespace fl::except {

// Root of the host's exceptions: Boost's clone_base first (primary), then
// boost::exception with its diagnostic data.
class IException : public boost::exception_detail::clone_base, public boost::exception {
public:
    // The message text from the host's catalog.
    virtual const char* what() const noexcept;

protected:
    IException() = default;
    IException(const IException&) = default;
    ~IException() noexcept override;
};

// An exception meant to be shown to the host's user.
class IUserException : public IException {
public:
    virtual void convert_str(std::u16string& text) const;
    virtual void convert_str(std::string& text) const;
    virtual std::u16string ToUstringImpl() const;

protected:
    IUserException() = default;
    IUserException(const IUserException&) = default;
    ~IUserException() noexcept override;
};

// An exception identified by a catalog message.
class IMsgIDException : public IUserException {
public:
    // The error identifier: the message's catalog and key joined by a colon.
    std::string get_error_id(const resource_core::BaseMsgID& id) const;

    virtual std::string error_id() const = 0;
    virtual std::u16string GetUnicodeMessageTxt() const;
    virtual const resource_core::BaseMsgID& msg_id() const = 0;

protected:
    IMsgIDException() = default;
    IMsgIDException(const IMsgIDException&) = default;
    ~IMsgIDException() noexcept override;
};

// The concrete exception for one message identifier class MsgID.
template <class MsgID, class StdBase, class Extra>
class Exception : public IMsgIDException, public StdBase {
public:
    explicit Exception(const MsgID& id) : msgId_(id), errorId_(this->get_error_id(id)) {}
    Exception(const Exception&) = default;
    ~Exception() noexcept override = default;

    const boost::exception_detail::clone_base* clone() const override {
        return new Exception(*this);
    }
    void rethrow() const override { throw *this; }
    const char* what() const noexcept override { return IException::what(); }
    std::string error_id() const override { return errorId_; }
    const resource_core::BaseMsgID& msg_id() const override { return msgId_; }

private:
    resource_core::BaseMsgID msgId_;
    std::string errorId_;
};

}  // namespace fl::except

namespace matrix::detail {

// Hands an error to the host, which reports it to its user. May return.
void do_legacy_vorn_error(const fl::except::IUserException& error);

}  // namespace matrix::detail
