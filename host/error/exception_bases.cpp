// The out-of-line members of the host's exception base classes: message
// text, its UTF-16 forms and the error identifier.
#include "vorn/error_api.hpp"

#include "message_catalog.hpp"
#include "utf16.hpp"

namespace fl::except {
namespace {

constexpr const char* kNoIdentifierText = "An error occurred in the host.";

}  // namespace

const char* IException::what() const noexcept {
    const auto* withId = dynamic_cast<const IMsgIDException*>(this);
    if (withId == nullptr) return kNoIdentifierText;
    try {
        const resource_core::BaseMsgID& id = withId->msg_id();
        return vornhost::detail::messageFor(withId->get_error_id(id), id.arguments());
    } catch (...) {
        return kNoIdentifierText;  // out of memory while making a generic text
    }
}

IException::~IException() noexcept = default;

void IUserException::convert_str(std::u16string& text) const {
    text = vornhost::detail::widenUtf8(what());
}

void IUserException::convert_str(std::string& text) const { text = what(); }

std::u16string IUserException::ToUstringImpl() const { return vornhost::detail::widenUtf8(what()); }

IUserException::~IUserException() noexcept = default;

std::string IMsgIDException::get_error_id(const resource_core::BaseMsgID& id) const {
    return id.catalog() + ":" + id.key();
}

std::u16string IMsgIDException::GetUnicodeMessageTxt() const {
    return vornhost::detail::widenUtf8(what());
}

IMsgIDException::~IMsgIDException() noexcept = default;

}  // namespace fl::except
