#include "asn1/access_error.h"

#include <utility>

#include "asn1/constructed.h"

namespace ASN1 {

namespace {

std::string orUnnamed(const char* name) { return name ? name : "?"; }

std::string alternativeName(const CHOICE& choice, int id) {
  const CHOICE::InfoType* info = choice.info();
  if (id >= 0 && std::uint32_t(id) < info->totalChoices && info->selectionNames)
    return orUnnamed(info->selectionNames[id]);
  return "#" + std::to_string(id);
}

}  // namespace

AccessError::AccessError(std::string type, std::string member, const std::string& what)
    : std::logic_error(what), type_(std::move(type)), member_(std::move(member)) {}

void AccessError::absent(const char* type, const SEQUENCE& sequence, unsigned index) {
  const std::string t = orUnnamed(type);
  const std::string field = orUnnamed(sequence.getFieldName(index));
  throw AccessError(t, field, t + "." + field + " read but absent");
}

void AccessError::unselected(const char* type, const CHOICE& choice, int id) {
  const std::string t = orUnnamed(type);
  const std::string wanted = alternativeName(choice, id);
  std::string held;
  if (choice.isUnknownSelection())
    held = "an unknown alternative";
  else if (choice.currentSelection() < 0)
    held = "nothing";
  else
    held = alternativeName(choice, choice.currentSelection());
  throw AccessError(t, wanted, t + "." + wanted + " read but " + held + " selected");
}

}  // namespace ASN1
