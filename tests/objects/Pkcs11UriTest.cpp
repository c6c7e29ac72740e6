// PKCS#11 URIs: the RFC 7512 examples that our attribute order can write,
// the characters that must be encoded, and a round trip through a small
// parser of the RFC's grammar.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "objects/Pkcs11Uri.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The path attributes of a URI, decoded; the query part is ignored. An
// attribute that is not well formed (a bad %XX, a character the RFC does
// not allow unencoded) fails the test.
std::map<std::string, std::string> ParsePath(const std::string& uri) {
    std::map<std::string, std::string> attributes;
    EXPECT_EQ(uri.rfind("pkcs11:", 0), 0u) << uri;
    std::string path = uri.substr(7, uri.find('?') == std::string::npos ? std::string::npos : uri.find('?') - 7);
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find(';', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string attribute = path.substr(start, end - start);
        const size_t equals = attribute.find('=');
        EXPECT_NE(equals, std::string::npos) << attribute;
        std::string value;
        for (size_t i = equals + 1; i < attribute.size(); ++i) {
            const char c = attribute[i];
            if (c == '%') {
                const int high = i + 2 < attribute.size() ? HexValue(attribute[i + 1]) : -1;
                const int low = i + 2 < attribute.size() ? HexValue(attribute[i + 2]) : -1;
                EXPECT_TRUE(high >= 0 && low >= 0) << attribute;
                value.push_back(static_cast<char>(high * 16 + low));
                i += 2;
            } else {
                EXPECT_TRUE(isalnum(static_cast<unsigned char>(c)) || strchr("-._~:[]@!$'()*+,=&", c))
                    << "'" << c << "' unencoded in " << attribute;
                value.push_back(c);
            }
        }
        attributes[attribute.substr(0, equals)] = value;
        start = end + 1;
    }
    return attributes;
}

Pkcs11UriFields Token(const char* token, const char* manufacturer, const char* model, const char* serial) {
    Pkcs11UriFields fields;
    fields.token = token;
    fields.manufacturer = manufacturer;
    fields.model = model;
    fields.serial = serial;
    return fields;
}

Pkcs11UriFields Object(Pkcs11UriFields fields, const std::string& label, const char* type, const std::string& id) {
    fields.hasObject = true;
    fields.object = label;
    fields.type = type;
    fields.id = id;
    return fields;
}

// The RFC's examples (less what our order or our attributes leave out),
// then the characters a path value cannot hold and the values left out.
TEST(Pkcs11Uri, EncodesAsTheRfcSays) {
    const Pkcs11UriFields rfc = Token("The Software PKCS#11 Softtoken", "Snake Oil, Inc.", "1.0", "");
    const Pkcs11UriFields ours = Token("Tolvane", "Tolvane AB", "SoftToken", "T0001");
    const std::string head = "pkcs11:token=Tolvane;manufacturer=Tolvane%20AB;model=SoftToken;serial=T0001";
    const struct {
        const char* what;
        Pkcs11UriFields fields;
        std::string uri;
    } rows[] = {
        {"RFC: certificate with binary id", Object(rfc, "my-certificate", "cert", "\x69\x95\x3E\x5C\xF4\xBD\xEC\x91"),
         "pkcs11:token=The%20Software%20PKCS%2311%20Softtoken;manufacturer=Snake%20Oil,%20Inc.;model=1.0;serial=;"
         "object=my-certificate;type=cert;id=%69%95%3E%5C%F4%BD%EC%91"},
        {"RFC: percent and semicolon", Token("A name with a substring %;", "", "", ""),
         "pkcs11:token=A%20name%20with%20a%20substring%20%25%3B;manufacturer=;model=;serial="},
        {"RFC: UTF-8 byte by byte, colon kept", Token("Name with a small A with acute: \xC3\xA1", "", "", ""),
         "pkcs11:token=Name%20with%20a%20small%20A%20with%20acute:%20%C3%A1;manufacturer=;model=;serial="},
        {"a token alone", ours, head},
        {"blanks", Object(ours, "my key", "private", "\x01"), head + ";object=my%20key;type=private;id=%01"},
        {"slash and question mark", Object(ours, "a/b?c", "public", ""), head + ";object=a%2Fb%3Fc;type=public"},
        {"path characters stay", Object(ours, "x:[y]@!$'()*+,=&", "data", ""),
         head + ";object=x:[y]@!$'()*+,=&;type=data"},
        {"hash, percent, quote", Object(ours, "#%\"", "cert", ""), head + ";object=%23%25%22;type=cert"},
        {"no label", Object(ours, "", "secret-key", std::string("\x00\xFF", 2)), head + ";type=secret-key;id=%00%FF"},
        {"printable id still encoded", Object(ours, "k", "private", "AB"), head + ";object=k;type=private;id=%41%42"},
        {"class without a type", Object(ours, "odd", nullptr, ""), head + ";object=odd"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(BuildPkcs11Uri(row.fields), row.uri) << row.what;
}

TEST(Pkcs11Uri, RoundTripThroughAParser) {
    std::string everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.push_back(static_cast<char>(b));
    const Pkcs11UriFields fields = Object(Token("Tok;en=1", "M?f/r", "\xE6\xBC\xA2\xE5\xAD\x97", "  12 "),
                                          everyByte, "cert", everyByte);
    std::map<std::string, std::string> parsed = ParsePath(BuildPkcs11Uri(fields));
    EXPECT_EQ(parsed["token"], fields.token);
    EXPECT_EQ(parsed["manufacturer"], fields.manufacturer);
    EXPECT_EQ(parsed["model"], fields.model);
    EXPECT_EQ(parsed["serial"], fields.serial);
    EXPECT_EQ(parsed["object"], everyByte);
    EXPECT_EQ(parsed["id"], everyByte);
    EXPECT_EQ(parsed["type"], "cert");
    EXPECT_EQ(parsed.size(), 7u);

    // The parser reads the RFC's own example with its query part as well.
    parsed = ParsePath("pkcs11:token=My%20token%25%20created%20by%20Joe;library-version=3;"
                       "id=%01%02%03%Ba%dd%Ca%fe%Ca%ce;object=my-certificate;type=cert?pin-source=file:/etc/t");
    EXPECT_EQ(parsed["token"], "My token% created by Joe");
    EXPECT_EQ(parsed["id"], "\x01\x02\x03\xBA\xDD\xCA\xFE\xCA\xCE");
}

TEST(Pkcs11Uri, TokenFieldsLoseTheirPaddingAndClassesTheirType) {
    CK_TOKEN_INFO info = {};
    memset(info.label, ' ', sizeof info.label);
    memcpy(info.label, "My token ", 9);
    memset(info.manufacturerID, ' ', sizeof info.manufacturerID);
    memcpy(info.manufacturerID, "Tolvane", 7);
    memset(info.model, ' ', sizeof info.model);
    memset(info.serialNumber, ' ', sizeof info.serialNumber);
    memcpy(info.serialNumber, "0042", 4);
    const Pkcs11UriFields fields = TokenUriFields(info);
    EXPECT_EQ(fields.token, "My token");
    EXPECT_EQ(fields.manufacturer, "Tolvane");
    EXPECT_EQ(fields.model, "");
    EXPECT_EQ(fields.serial, "0042");

    const struct {
        CK_OBJECT_CLASS objectClass;
        const char* type;
    } classes[] = {{CKO_CERTIFICATE, "cert"}, {CKO_DATA, "data"}, {CKO_PRIVATE_KEY, "private"},
                   {CKO_PUBLIC_KEY, "public"}, {CKO_SECRET_KEY, "secret-key"}, {CKO_DOMAIN_PARAMETERS, nullptr}};
    for (const auto& c : classes)
        EXPECT_STREQ(Pkcs11UriType(c.objectClass), c.type) << c.objectClass;
}

}  // namespace
