// The Velmar host's error library as a module is compiled against it: message
// identifiers, the exception bases and the call that reports an error.
#pragma once

#include <boost/exception/exception.hpp>
#include <boost/variant.hpp>

#include <exception>
#include <string>
#include <vector>

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
