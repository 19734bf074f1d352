// Message identifiers of the host's error library.
#include "vorn/error_api.hpp"

#include <utility>

namespace resource_core {
namespace {

// Copies one message argument, whichever of its three forms it holds.
struct ArgumentCopy : boost::static_visitor<BaseMsgID::Argument> {
    BaseMsgID::Argument operator()(long value) const { return value; }
    BaseMsgID::Argument operator()(const std::string& value) const { return value; }
    BaseMsgID::Argument operator()(const std::u16string& value) const { return value; }
};

}  // namespace

BaseMsgID::BaseMsgID(std::string catalog, std::string key)
    : catalog_(std::move(catalog)), key_(std::move(key)) {}

BaseMsgID::BaseMsgID(std::string catalog, std::string key, std::vector<Argument> arguments)
    : args_(std::move(arguments)), catalog_(std::move(catalog)), key_(std::move(key)) {}

BaseMsgID::BaseMsgID(const BaseMsgID& other) : catalog_(), key_() {
    args_.reserve(other.args_.size());
    for (const Argument& arg : other.args_)
        args_.push_back(boost::apply_visitor(ArgumentCopy{}, arg));
    catalog_ = other.catalog_;
    key_ = other.key_;
}

BaseMsgID& BaseMsgID::operator=(const BaseMsgID& other) {
    if (this == &other) return *this;
    BaseMsgID copy(other);
    args_.swap(copy.args_);
    catalog_.swap(copy.catalog_);
    key_.swap(copy.key_);
    return *this;
}

BaseMsgID::~BaseMsgID() = default;

bool operator==(const BaseMsgID& a, const BaseMsgID& b) {
    return a.catalog() == b.catalog() && a.key() == b.key() && a.arguments() == b.arguments();
}

}  // namespace resource_core
