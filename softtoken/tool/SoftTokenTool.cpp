// softtoken.exe: manages the software token's store from the command line
// (see `softtoken help` and README.md). Built on the management functions
// that tolvane11.dll exports.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "SoftTokenControl.h"

namespace {

const char kUsage[] =
    "softtoken [--store DIR] COMMAND ...\n"
    "\n"
    "The store is DIR, else %TOLVANE_SOFTTOKEN_STORE%, else %LOCALAPPDATA%\\TolvaneSoftToken.\n"
    "\n"
    "  init [--slots N]                      make the store with N slots (default 4)\n"
    "  create SLOT --label L --serial S [--so-pin P] [--user-pin P] [--manufacturer M]\n"
    "         [--model M] [--hw X.Y] [--fw X.Y] [--capacity BYTES]\n"
    "                                        put a new token in SLOT (SO PIN default \"tolvane\")\n"
    "  remove SLOT                           take the token out (its data is kept)\n"
    "  insert SLOT                           put the removed token back\n"
    "  list                                  show every slot\n"
    "  policy SLOT LEVEL MAXFAILED MINLEN MAXLEN\n"
    "                                        user-PIN policy: level 1-4, max failed 1-15,\n"
    "                                        lengths 4-32 with MINLEN <= MAXLEN\n"
    "  user-pin SLOT PIN                     set (and unblock) the user PIN, no login\n"
    "  capacity SLOT BYTES                   memory for object data\n"
    "  fault FUNCTION NTH RV [--repeat]      the NTH call of FUNCTION answers RV (hex or\n"
    "                                        decimal) in every process on the store;\n"
    "                                        --repeat: every call from the NTH on\n"
    "  clear-faults                          remove the faults set with `fault`\n"
    "  genkey SLOT [--bits 2048] [--label L] [--id HEX]\n"
    "                                        RSA key pair on the token, no login needed\n"
    "  add-cert SLOT FILE [--label L] [--id HEX]\n"
    "                                        store a certificate (DER or PEM file)\n"
    "  add-data SLOT --label L --value TEXT [--application A]\n"
    "                                        store a data object\n"
    "  help                                  this text\n";

std::string Utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    return result;
}

// The command's words: positional ones in order, options by name.
struct Arguments {
    std::vector<std::string> words;
    std::map<std::string, std::string> options;
    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::string Get(const std::string& name, const std::string& fallback = "") const {
        auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
};

const char* const kFlags[] = {"--repeat"};

bool Parse(int argc, wchar_t** argv, Arguments* args, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = Utf8(argv[i]);
        if (word.rfind("--", 0) != 0) {
            args->words.push_back(word);
            continue;
        }
        bool flag = false;
        for (const char* f : kFlags)
            flag = flag || word == f;
        if (flag) {
            args->options[word] = "1";
        } else if (i + 1 < argc) {
            args->options[word] = Utf8(argv[++i]);
        } else {
            *error = "option " + word + " needs a value";
            return false;
        }
    }
    return true;
}

class Failure {
public:
    explicit Failure(std::string message) : message(std::move(message)) {}
    std::string message;
};

unsigned long Number(const std::string& text, const char* what) {
    char* end = nullptr;
    const unsigned long value = strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end)
        throw Failure(std::string("not a number for ") + what + ": " + text);
    return value;
}

CK_VERSION Version(const std::string& text) {
    const size_t dot = text.find('.');
    CK_VERSION version = {};
    version.major = static_cast<CK_BYTE>(Number(text.substr(0, dot), "version"));
    version.minor = dot == std::string::npos ? 0 : static_cast<CK_BYTE>(Number(text.substr(dot + 1), "version"));
    return version;
}

std::vector<unsigned char> Hex(const std::string& text) {
    if (text.size() % 2)
        throw Failure("hex needs an even number of digits: " + text);
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(Number("0x" + text.substr(i, 2), "hex")));
    return bytes;
}

void Check(CK_RV rv, const char* what) {
    if (rv != CKR_OK) {
        char text[160];
        snprintf(text, sizeof text, "%s failed: CK_RV 0x%08lX", what, static_cast<unsigned long>(rv));
        throw Failure(text);
    }
}

const std::string& Word(const Arguments& args, size_t index, const char* what) {
    if (index >= args.words.size())
        throw Failure(std::string("missing ") + what + " (see softtoken help)");
    return args.words[index];
}

CK_SLOT_ID SlotArgument(const Arguments& args) {
    return Number(Word(args, 1, "slot"), "slot");
}

std::vector<unsigned char> ReadCertificate(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw Failure("cannot open " + Utf8(path.c_str()));
    std::vector<unsigned char> bytes(GetFileSize(file, nullptr));
    DWORD read = 0;
    const BOOL ok = bytes.empty() || ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    if (!ok || read != bytes.size())
        throw Failure("cannot read " + Utf8(path.c_str()));
    const std::string text(bytes.begin(), bytes.end());
    if (text.find("-----BEGIN") == std::string::npos)
        return bytes;
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr))
        throw Failure("not a PEM certificate: " + Utf8(path.c_str()));
    std::vector<unsigned char> der(size);
    CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                         der.data(), &size, nullptr, nullptr);
    der.resize(size);
    return der;
}

void AddObject(CK_SLOT_ID slot, std::vector<CK_ATTRIBUTE>& templ) {
    const CK_ATTRIBUTE* templates[] = {templ.data()};
    const CK_ULONG counts[] = {static_cast<CK_ULONG>(templ.size())};
    Check(SoftToken_AddObjects(slot, templates, counts, 1), "storing the object");
}

CK_ATTRIBUTE Attribute(CK_ATTRIBUTE_TYPE type, const void* value, size_t size) {
    return CK_ATTRIBUTE{type, const_cast<void*>(value), static_cast<CK_ULONG>(size)};
}

void Create(const Arguments& args) {
    const CK_SLOT_ID slot = SlotArgument(args);
    if (!args.Has("--label") || !args.Has("--serial"))
        throw Failure("create needs --label and --serial");
    const std::string label = args.Get("--label"), serial = args.Get("--serial");
    const std::string soPin = args.Get("--so-pin"), userPin = args.Get("--user-pin");
    const std::string manufacturer = args.Get("--manufacturer"), model = args.Get("--model");
    SoftTokenParams params = {};
    params.label = label.c_str();
    params.serial = serial.c_str();
    params.soPin = args.Has("--so-pin") ? soPin.c_str() : nullptr;
    params.userPin = args.Has("--user-pin") ? userPin.c_str() : nullptr;
    params.manufacturer = args.Has("--manufacturer") ? manufacturer.c_str() : nullptr;
    params.model = args.Has("--model") ? model.c_str() : nullptr;
    params.hardware = Version(args.Get("--hw", "1.0"));
    params.firmware = Version(args.Get("--fw", "1.0"));
    params.capacity = Number(args.Get("--capacity", "0"), "--capacity");
    Check(SoftToken_CreateToken(slot, &params), "create");
}

void List() {
    CK_ULONG slots = 0;
    Check(SoftToken_GetSlotCount(&slots), "list");
    for (CK_SLOT_ID slot = 0; slot < slots; ++slot) {
        char line[1024];
        Check(SoftToken_DescribeSlot(slot, line, sizeof line), "list");
        printf("%s\n", line);
    }
}

void AddCertificate(const Arguments& args, const std::wstring& file) {
    const CK_SLOT_ID slot = SlotArgument(args);
    const std::vector<unsigned char> der = ReadCertificate(file);
    const std::string label = args.Get("--label");
    const std::vector<unsigned char> id = Hex(args.Get("--id"));
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    std::vector<CK_ATTRIBUTE> templ = {
        Attribute(CKA_CLASS, &certificateClass, sizeof certificateClass),
        Attribute(CKA_CERTIFICATE_TYPE, &x509, sizeof x509),
        Attribute(CKA_VALUE, der.data(), der.size()),
        Attribute(CKA_LABEL, label.data(), label.size()),
        Attribute(CKA_ID, id.data(), id.size()),
    };
    AddObject(slot, templ);
}

void AddData(const Arguments& args) {
    const CK_SLOT_ID slot = SlotArgument(args);
    if (!args.Has("--label") || !args.Has("--value"))
        throw Failure("add-data needs --label and --value");
    const std::string label = args.Get("--label"), value = args.Get("--value");
    const std::string application = args.Get("--application");
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    std::vector<CK_ATTRIBUTE> templ = {
        Attribute(CKA_CLASS, &dataClass, sizeof dataClass),
        Attribute(CKA_LABEL, label.data(), label.size()),
        Attribute(CKA_VALUE, value.data(), value.size()),
        Attribute(CKA_APPLICATION, application.data(), application.size()),
    };
    AddObject(slot, templ);
}

void GenerateKey(const Arguments& args) {
    const CK_SLOT_ID slot = SlotArgument(args);
    const std::string label = args.Get("--label");
    const std::vector<unsigned char> id = Hex(args.Get("--id"));
    Check(SoftToken_GenerateKeyPair(slot, Number(args.Get("--bits", "2048"), "--bits"), label.c_str(),
                                    id.data(), static_cast<CK_ULONG>(id.size())),
          "genkey");
}

void Fault(const Arguments& args) {
    const std::string function = Word(args, 1, "function name");
    const CK_ULONG nth = Number(Word(args, 2, "call number"), "call number");
    const CK_RV rv = Number(Word(args, 3, "return code"), "return code");
    Check(SoftToken_AddStoreFault(function.c_str(), nth, rv, args.Has("--repeat") ? SOFTTOKEN_FAULT_REPEAT : 0),
          "fault");
}

void Run(const Arguments& args, wchar_t** argv, int argc) {
    const std::string command = args.words.empty() ? "help" : args.words[0];
    if (command == "help") {
        fputs(kUsage, stdout);
    } else if (command == "init") {
        Check(SoftToken_InitStore(Number(args.Get("--slots", "4"), "--slots")), "init");
    } else if (command == "create") {
        Create(args);
    } else if (command == "remove") {
        Check(SoftToken_RemoveToken(SlotArgument(args)), "remove");
    } else if (command == "insert") {
        Check(SoftToken_InsertToken(SlotArgument(args)), "insert");
    } else if (command == "list") {
        List();
    } else if (command == "policy") {
        Check(SoftToken_SetPolicy(SlotArgument(args), Number(Word(args, 2, "level"), "level"),
                                  Number(Word(args, 3, "max failed"), "max failed"),
                                  Number(Word(args, 4, "min length"), "min length"),
                                  Number(Word(args, 5, "max length"), "max length")),
              "policy");
    } else if (command == "user-pin") {
        Check(SoftToken_SetUserPin(SlotArgument(args), Word(args, 2, "PIN").c_str()), "user-pin");
    } else if (command == "capacity") {
        Check(SoftToken_SetCapacity(SlotArgument(args), Number(Word(args, 2, "bytes"), "bytes")), "capacity");
    } else if (command == "fault") {
        Fault(args);
    } else if (command == "clear-faults") {
        Check(SoftToken_ClearStoreFaults(), "clear-faults");
    } else if (command == "genkey") {
        GenerateKey(args);
    } else if (command == "add-cert") {
        // The file name is taken as given, not through UTF-8 and back.
        std::wstring file;
        for (int i = 1, seen = 0; i < argc; ++i) {
            if (argv[i][0] == L'-' && argv[i][1] == L'-') {
                ++i;
                continue;
            }
            if (++seen == 3)
                file = argv[i];
        }
        Word(args, 2, "certificate file");
        AddCertificate(args, file);
    } else if (command == "add-data") {
        AddData(args);
    } else {
        throw Failure("unknown command " + command + " (see softtoken help)");
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Arguments args;
    std::string error;
    if (!Parse(argc, argv, &args, &error)) {
        fprintf(stderr, "softtoken: %s\n", error.c_str());
        return 2;
    }
    if (args.Has("--store")) {
        const int size = MultiByteToWideChar(CP_UTF8, 0, args.Get("--store").c_str(), -1, nullptr, 0);
        std::wstring store(size, L'\0');
        MultiByteToWideChar(CP_UTF8, 0, args.Get("--store").c_str(), -1, &store[0], size);
        SoftToken_SetStorePath(store.c_str());
    }
    try {
        Run(args, argv, argc);
    } catch (const Failure& failure) {
        fprintf(stderr, "softtoken: %s\n", failure.message.c_str());
        return 1;
    }
    return 0;
}
