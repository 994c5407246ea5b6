// Field syntax of the documents the index-engine worker sends: one field written as an XML field
// element (atomic-update attribute, CDATA value) for the update handler, or as an "&literal."
// parameter of the extract URL; and the text filters both forms rest on. Pure functions.
#pragma once

#include <string>
#include <string_view>

// How a document's fields are written: XML field elements for the update handler, or the extract
// handler's "&literal." parameters. Each sender knows the form of what it posts and passes it to
// the builders.
enum class EFieldForm { eXml, eLiteral };

namespace IdxDocuments {

// One field in the form given: a field element whose value is filtered and wrapped in CDATA
// sections that no value can close, or an "&literal." parameter whose name and value have bytes
// that are not UTF-8 turned into U+FFFD and are then percent-encoded. Plain names are written as
// they are; a name holding markup characters is escaped in the XML form and encoded in the
// literal form, so no name can break a document either.
std::string CreateField(const std::string &strName, const std::string &strValue, EFieldForm eForm);
// CreateField appended to strOut, written straight into it: the builders write every field this
// way, so that no text is made per field.
void AppendField(std::string &strOut, std::string_view svName, std::string_view svValue,
                 EFieldForm eForm);
// Filters first, then divides every "]]>" between two sections. An empty value gives "".
std::string GenerateCData(const std::string &strValue);
// GenerateCData appended to strOut; the filter writes straight into it.
void AppendCData(std::string &strOut, std::string_view svValue);
// Drops what XML 1.0 cannot carry (C0 controls but tab, line feed and carriage return; DEL;
// U+FFFE, U+FFFF) and turns bytes that are not UTF-8 into U+FFFD, so the result is always valid
// UTF-8. Every change is logged.
std::string StripIllegalXmlCharacters(const std::string &strValue);
// Percent-encodes every byte but letters, digits and "-_.~" (lower-case hexadecimal).
std::string Urlencode(const std::string &strValue);
// Rewrites the value of the first field CreateField wrote for exactly that name in that form;
// the new value is written as CreateField writes values. A document without the field stays as
// it is.
void ChangeFieldValue(std::string &strDocument, const std::string &strName, std::string strValue,
                      EFieldForm eForm);

} // namespace IdxDocuments
