#include "tools/release/pkcs11_key_uri.h"

#include "tools/common/tool_main.h"

namespace vireo::release {

using tools::UsageError;

Pkcs11KeyUri::Pkcs11KeyUri(const std::string& text) : text_(text), uri_(p11_kit_uri_new()) {
  if (!uri_) throw UsageError{"cannot parse the key URI: out of memory"};
  const int parsed = p11_kit_uri_parse(text.c_str(), P11_KIT_URI_FOR_ANY, uri_.get());
  if (parsed != P11_KIT_URI_OK) {
    throw UsageError{"the key URI '" + text + "' is not a PKCS#11 URI (RFC 7512): " +
                     p11_kit_uri_message(parsed)};
  }
  if (p11_kit_uri_get_pin_value(uri_.get()) || p11_kit_uri_get_pin_source(uri_.get())) {
    throw UsageError{
        "the key URI carries a PIN (pin-value or pin-source): give the PIN with --pin-file FILE "
        "or --pin-env NAME, never on the command line"};
  }
  if (p11_kit_uri_any_unrecognized(uri_.get())) {
    throw UsageError{"the key URI '" + text + "' holds an attribute PKCS#11 URIs do not have"};
  }
  // A URI without type= names any object with its label or id; the key is
  // looked for as a private key anyway.
  const CK_ATTRIBUTE* type = p11_kit_uri_get_attribute(uri_.get(), CKA_CLASS);
  if (type && (type->ulValueLen != sizeof(CK_OBJECT_CLASS) ||
               *static_cast<const CK_OBJECT_CLASS*>(type->pValue) != CKO_PRIVATE_KEY)) {
    throw UsageError{"the key URI '" + text + "' names no private key (use type=private)"};
  }
}

bool Pkcs11KeyUri::MatchesToken(const CK_SLOT_INFO& slot, const CK_TOKEN_INFO& token) const {
  return p11_kit_uri_match_slot_info(uri_.get(), &slot) == 1 &&
         p11_kit_uri_match_token_info(uri_.get(), &token) == 1;
}

CK_ATTRIBUTE* Pkcs11KeyUri::KeyTemplate(CK_ULONG* count) {
  CK_ATTRIBUTE type = {CKA_CLASS, &private_key_class_, sizeof private_key_class_};
  // p11-kit copies the value into the URI's own attribute set.
  p11_kit_uri_set_attribute(uri_.get(), &type);
  return p11_kit_uri_get_attributes(uri_.get(), count);
}

}  // namespace vireo::release
