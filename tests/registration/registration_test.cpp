// Self-registration and removal against a registry of the test's own: what
// each regime writes and gives back, and that a step which could not be done
// is reported rather than passed over.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "base/module_identity.h"
#include "base/wow64.h"
#include "registration/registration.h"
#include "registration/registry_routines.h"
#include "support/scratch_registry.h"

namespace {

const RegistrationRegime kBefore = RegistrationRegime::BeforeVista;
const RegistrationRegime kVista = RegistrationRegime::VistaOrLater;
const RegistrationView kNative = RegistrationView::Native;
const RegistrationView kWow64 = RegistrationView::Wow64;

const std::wstring kStock = STOCK_OPEN_LOCATION_CLSID_TEXT;
const std::wstring kOurs = HANDLER_CLSID_TEXT;
const std::wstring kOther = L"{0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d}";
const std::wstring kClassKey = L"CLSID\\" + kOurs;
const std::wstring kServerKey = kClassKey + L"\\InProcServer32";
const wchar_t kHandlerParent[] = L"lnkfile\\shellex\\ContextMenuHandlers";
const wchar_t kServerPath[] = L"C:\\Program Files\\Norrvane\\NorrvaneShLnk.dll";
const std::wstring kFriendlyName = L"NorrvaneOpenContainingFolderMenu";

std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// Every value registration writes is REG_SZ whose length counts the terminator.
void ExpectText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    ValueRead read = ReadValue(root, path.c_str(), name);
    EXPECT_TRUE(read.present) << path << " " << name;
    EXPECT_EQ(DWORD(REG_SZ), read.type) << path << " " << name;
    EXPECT_EQ((text.size() + 1) * sizeof(wchar_t), read.bytes) << path << " " << name;
    EXPECT_EQ(text, read.text) << path << " " << name;
}

void SetAccess(HKEY root, const std::wstring& path, PACL dacl, DWORD options = 0)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root, path.c_str(), options, WRITE_DAC, &key));
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, dacl, FALSE);
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd));
    RegCloseKey(key);
}

// The scratch registry, plus keys made to resist deletion: such a key has a
// subkey and denies every access, so it can be neither emptied nor deleted.
// Access is given back before the scratch keys are cleared away.
struct Scratch {
    ScratchRegistry registry;
    std::vector<std::wstring> locked;
    std::vector<std::pair<HKEY, std::wstring>> links;
    std::wstring decoyValue;

    ~Scratch()
    {
        for (const std::wstring& path : locked) SetAccess(cr(), path, nullptr);
        // Clearing the scratch keys away would follow the links left behind.
        for (const auto& link : links) DeleteLink(link.first, link.second.c_str());
    }
    HKEY cr() const { return registry.classesRoot(); }
    HKEY lm() const { return registry.localMachine(); }

    void Lock(const std::wstring& path)
    {
        CreatePath(cr(), (path + L"\\Stuck").c_str());
        ACL empty;
        InitializeAcl(&empty, sizeof empty, ACL_REVISION);
        SetAccess(cr(), path, &empty);
        locked.push_back(path);
    }
    // A locked key can still be opened by its owner to change its access.
    bool IsLocked(const std::wstring& path) const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(cr(), path.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return !KeyExists(cr(), path.c_str());
    }
    void Delete(HKEY root, const std::wstring& path) { RegDeleteTreeW(root, path.c_str()); }
    // Below `under`, a link to a key elsewhere that holds a value, and a link
    // back to `under` itself: neither may be followed.
    void PlantLinks(const std::wstring& under)
    {
        SetValue(lm(), L"Victim\\Inner", L"Note", L"kept");
        AddLink(under + L"\\ToVictim", lm(), L"Victim");
        AddLink(under + L"\\Loop", cr(), under);
    }
    void AddLink(const std::wstring& path, HKEY targetRoot, const std::wstring& target, HKEY root = nullptr)
    {
        root = root ? root : cr();
        CreateLink(root, path.c_str(), targetRoot, target.c_str());
        links.emplace_back(root, path);
    }
    // In place of the key at `path`, a link to a decoy key elsewhere whose
    // default value is `value`, as the handler key's may be.
    void LinkToDecoy(HKEY root, const std::wstring& path, const std::wstring& value)
    {
        Delete(root, path);
        SetValue(lm(), L"Decoy", L"", value);
        decoyValue = value;
        AddLink(path, lm(), L"Decoy", root);
    }
    // Nothing was written through the links: the decoy holds its one value
    // and no subkey; and a link is nobody's entry, so each is still there.
    // The links go, so that what is left can be checked.
    void ExpectDecoyUntouchedAndUnlink()
    {
        if (decoyValue.empty()) return;
        DWORD subkeys = 0, values = 0;
        HKEY decoy = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(lm(), L"Decoy", 0, KEY_READ, &decoy));
        EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(decoy, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                                  &values, nullptr, nullptr, nullptr, nullptr));
        RegCloseKey(decoy);
        EXPECT_EQ(0u, subkeys);
        EXPECT_EQ(1u, values);
        ExpectText(lm(), L"Decoy", L"", decoyValue);
        for (const auto& link : links) EXPECT_TRUE(DeleteLink(link.first, link.second.c_str())) << link.second;
        links.clear();
    }
    // A link whose own access allows deleting it and nothing else: it cannot
    // be opened for reading, only for deletion.
    void AddDeleteOnlyLink(const std::wstring& path, HKEY targetRoot, const std::wstring& target)
    {
        AddLink(path, targetRoot, target);
        BYTE everyone[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof everyone;
        ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidSize));
        DWORD aclBuffer[32];
        PACL acl = reinterpret_cast<PACL>(aclBuffer);
        InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION);
        ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, DELETE, everyone));
        SetAccess(cr(), path, acl, REG_OPTION_OPEN_LINK);
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(cr(), path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key));
        if (key) RegCloseKey(key);
    }
    void ExpectVictimKept() const
    {
        if (links.empty()) return;
        EXPECT_EQ(L"kept", ReadValue(lm(), L"Victim\\Inner", L"Note").text);
        for (const auto& link : links) EXPECT_FALSE(KeyExists(link.first, link.second.c_str())) << link.second;
    }
    // Below a volatile key no lasting key can be created.
    void MakeVolatile(const std::wstring& path)
    {
        Delete(cr(), path);
        CreatePath(cr(), path.c_str(), true);
    }
};

// A system from 6.0 on as it ships: the stock handler in force for shortcut
// files and the other classes that offer it, "CLSID" and the approval key
// present.
void ArrangeStock(Scratch& s)
{
    SetValue(s.cr(), HANDLER_KEY_PATH, L"", kStock);
    for (const wchar_t* path : OTHER_HANDLER_KEY_PATHS) SetValue(s.cr(), path, L"", kStock);
    CreatePath(s.cr(), L"CLSID");
    CreatePath(s.lm(), APPROVAL_KEY_PATH);
}

// What a registration leaves, with subkeys of the class key that others added.
void ArrangeRegistered(Scratch& s)
{
    ArrangeStock(s);
    SetValue(s.cr(), HANDLER_KEY_PATH, L"", kOurs);
    for (const wchar_t* path : OTHER_HANDLER_KEY_PATHS) SetValue(s.cr(), path, L"", kOurs);
    SetValue(s.cr(), kClassKey.c_str(), L"", kFriendlyName);
    SetValue(s.cr(), kServerKey.c_str(), L"ThreadingModel", L"Apartment");
    SetValue(s.cr(), kServerKey.c_str(), L"", kServerPath);
    SetValue(s.cr(), (kClassKey + L"\\Extra\\Deeper").c_str(), L"Note", L"kept by someone else");
    CreatePath(s.cr(), (kClassKey + L"\\DefaultIcon").c_str());
    SetValue(s.lm(), APPROVAL_KEY_PATH, kOurs.c_str(), kFriendlyName);
}

// What the handler key should hold; Kept when the test compares it itself.
enum class Handler { Stock, Ours, Absent, Kept };

struct Entries {
    Handler handler;
    bool classKey;
    bool serverKey;
    bool approval;
    Handler others = Handler::Kept;  // the other classes' handler keys
};

void ExpectHandler(const Scratch& s, const wchar_t* path, Handler handler)
{
    switch (handler) {
    case Handler::Stock: ExpectText(s.cr(), path, L"", kStock); break;
    case Handler::Ours: ExpectText(s.cr(), path, L"", kOurs); break;
    case Handler::Absent: EXPECT_FALSE(KeyExists(s.cr(), path)) << path; break;
    case Handler::Kept: break;
    }
}

void ExpectEntries(const Scratch& s, const Entries& e)
{
    ExpectHandler(s, HANDLER_KEY_PATH, e.handler);
    for (const wchar_t* path : OTHER_HANDLER_KEY_PATHS) ExpectHandler(s, path, e.others);
    if (e.classKey)
        ExpectText(s.cr(), kClassKey, L"", kFriendlyName);
    else
        EXPECT_FALSE(KeyExists(s.cr(), kClassKey.c_str()));
    if (e.serverKey) {
        ExpectText(s.cr(), kServerKey, L"ThreadingModel", L"Apartment");
        ExpectText(s.cr(), kServerKey, L"", kServerPath);
    } else {
        EXPECT_FALSE(KeyExists(s.cr(), kServerKey.c_str()));
    }
    if (e.approval)
        ExpectText(s.lm(), APPROVAL_KEY_PATH, kOurs.c_str(), kFriendlyName);
    else
        EXPECT_FALSE(ReadValue(s.lm(), APPROVAL_KEY_PATH, kOurs.c_str()).present);
    // The command class is its package's to declare.
    EXPECT_FALSE(KeyExists(s.cr(), (std::wstring(L"CLSID\\") + COMMAND_CLSID_TEXT).c_str()));
    EXPECT_FALSE(ReadValue(s.lm(), APPROVAL_KEY_PATH, COMMAND_CLSID_TEXT).present);
}

bool SameValue(const ValueRead& a, const ValueRead& b)
{
    return a.present == b.present && a.type == b.type && a.bytes == b.bytes && a.text == b.text;
}

TEST(Registration, ClsidTextsNameTheirClassesInLowerCase)
{
    const struct {
        CLSID clsid;
        std::wstring text;
    } classes[] = {{HANDLER_CLSID, kOurs}, {COMMAND_CLSID, COMMAND_CLSID_TEXT}};
    for (const auto& c : classes) {
        wchar_t text[39] = {};
        ASSERT_EQ(39, StringFromGUID2(c.clsid, text, 39));
        EXPECT_EQ(Upper(c.text), Upper(text));
        for (wchar_t character : c.text) EXPECT_FALSE(character >= L'A' && character <= L'Z') << c.text;
    }
}

// From 6.0 on the handler key's default value alone decides: registration
// switches only the stock class, removal gives back only ours.
TEST(Registration, FromVistaHandlerValueIsSwitchedOnlyWhenExpected)
{
    const std::wstring tooLong = kStock + L"                                  ";
    // A NUL hides the rest from a text comparison; 130 bytes in all, one
    // character past the 128 bytes read.
    const std::wstring pastRead = std::wstring(1, L'\0') + std::wstring(25, L'x');
    struct Row {
        const char* label;
        bool present;
        DWORD type;
        std::wstring text;
        bool registrationSwitches;
        bool removalRestores;
    } rows[] = {
        {"stock", true, REG_SZ, kStock, true, false},
        {"stock in upper case", true, REG_SZ, Upper(kStock), true, false},
        {"ours, registered before", true, REG_SZ, kOurs, false, true},
        {"ours in upper case", true, REG_SZ, Upper(kOurs), false, true},
        {"another handler", true, REG_SZ, kOther, false, false},
        {"stock as REG_EXPAND_SZ", true, REG_EXPAND_SZ, kStock, false, false},
        {"ours as REG_EXPAND_SZ", true, REG_EXPAND_SZ, kOurs, false, false},
        {"stock as REG_BINARY", true, REG_BINARY, kStock, false, false},
        {"ours as REG_BINARY", true, REG_BINARY, kOurs, false, false},
        {"stock with more behind it", true, REG_SZ, tooLong, false, false},
        {"ours with more behind it", true, REG_SZ, kOurs + L"                            ", false, false},
        {"stock, a NUL, past the bytes read", true, REG_SZ, kStock + pastRead, false, false},
        {"ours, a NUL, past the bytes read", true, REG_SZ, kOurs + pastRead, false, false},
        {"empty text", true, REG_SZ, L"", false, false},
        {"no value", false, REG_SZ, L"", false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        auto arrangeValue = [&](Scratch& s) {
            RegDeleteKeyValueW(s.cr(), HANDLER_KEY_PATH, L"");
            if (row.present) SetValue(s.cr(), HANDLER_KEY_PATH, L"", row.text, row.type);
        };
        {
            Scratch s;
            ArrangeStock(s);
            arrangeValue(s);
            ValueRead before = ReadValue(s.cr(), HANDLER_KEY_PATH, L"");
            EXPECT_EQ(S_OK, RegisterServer(kVista, kNative, kServerPath));
            if (row.registrationSwitches)
                ExpectText(s.cr(), HANDLER_KEY_PATH, L"", kOurs);
            else
                EXPECT_TRUE(SameValue(before, ReadValue(s.cr(), HANDLER_KEY_PATH, L"")));
            ExpectEntries(s, {row.registrationSwitches ? Handler::Ours : Handler::Kept, true, true, true});
        }
        {
            Scratch s;
            ArrangeRegistered(s);
            arrangeValue(s);
            ValueRead before = ReadValue(s.cr(), HANDLER_KEY_PATH, L"");
            EXPECT_EQ(S_OK, UnregisterServer(kVista, kNative));
            if (row.removalRestores)
                ExpectText(s.cr(), HANDLER_KEY_PATH, L"", kStock);
            else
                EXPECT_TRUE(SameValue(before, ReadValue(s.cr(), HANDLER_KEY_PATH, L"")));
            EXPECT_FALSE(KeyExists(s.cr(), kClassKey.c_str()));
            EXPECT_FALSE(ReadValue(s.lm(), APPROVAL_KEY_PATH, kOurs.c_str()).present);
            EXPECT_TRUE(KeyExists(s.lm(), APPROVAL_KEY_PATH));
        }
    }
}

// From 6.0 on the other classes' handler keys go by the shortcut key's rule,
// each where this Windows has it: switched only from the stock class, given
// back only from ours, never through a link. A key that fails is reported and
// leaves the others switched; removal, as a rollback runs it, gives them back.
TEST(Registration, OtherClassesKeysAreSwitchedWhereTheyExist)
{
    struct Row {
        const char* label;
        void (*arrange)(Scratch&, const std::wstring& path);
        HRESULT registration;
        Handler registered;  // the key's value after registration; Kept: as arranged
        Handler removed;
    } rows[] = {
        {"stock", [](Scratch&, const std::wstring&) {}, S_OK, Handler::Ours, Handler::Stock},
        {"stock in upper case",
         [](Scratch& s, const std::wstring& path) { SetValue(s.cr(), path.c_str(), L"", Upper(kStock)); }, S_OK,
         Handler::Ours, Handler::Stock},
        {"absent", [](Scratch& s, const std::wstring& path) { s.Delete(s.cr(), path); }, S_OK, Handler::Absent,
         Handler::Absent},
        {"a third class", [](Scratch& s, const std::wstring& path) { SetValue(s.cr(), path.c_str(), L"", kOther); },
         S_OK, Handler::Kept, Handler::Kept},
        {"a link", [](Scratch& s, const std::wstring& path) { s.LinkToDecoy(s.cr(), path, kStock); }, E_FAIL,
         Handler::Kept, Handler::Kept},
        {"not writable", [](Scratch& s, const std::wstring& path) { s.Lock(path); }, E_FAIL, Handler::Kept,
         Handler::Kept},
    };
    for (const wchar_t* key : OTHER_HANDLER_KEY_PATHS) {
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(key)) << ", " << row.label);
            Scratch s;
            ArrangeStock(s);
            row.arrange(s, key);
            const ValueRead before = ReadValue(s.cr(), key, L"");
            EXPECT_EQ(row.registration, RegisterServer(kVista, kNative, kServerPath));
            if (row.registered == Handler::Kept)
                EXPECT_TRUE(SameValue(before, ReadValue(s.cr(), key, L"")));
            ExpectHandler(s, key, row.registered);
            for (const wchar_t* other : OTHER_HANDLER_KEY_PATHS)
                if (other != key) ExpectHandler(s, other, Handler::Ours);
            ExpectEntries(s, {Handler::Ours, true, true, true});

            EXPECT_EQ(S_OK, UnregisterServer(kVista, kNative));
            if (row.removed == Handler::Kept) EXPECT_TRUE(SameValue(before, ReadValue(s.cr(), key, L"")));
            ExpectHandler(s, key, row.removed);
            for (const wchar_t* other : OTHER_HANDLER_KEY_PATHS)
                if (other != key) ExpectHandler(s, other, Handler::Stock);
            s.ExpectDecoyUntouchedAndUnlink();
            ExpectEntries(s, {Handler::Stock, false, false, false});
        }
    }
}

// Before 6.0 registration writes the handler key whatever it held; removal
// deletes it with all below it when it is ours, and keeps its parents.
TEST(Registration, BeforeVistaHandlerKeyIsCreatedAndDeleted)
{
    struct Row {
        const char* label;
        void (*arrange)(Scratch&);
        bool registerFirst;
        bool handlerAfterRemoval;
    } rows[] = {
        {"lnkfile without shellex", [](Scratch& s) { s.Delete(s.cr(), L"lnkfile\\shellex"); }, true, false},
        {"stock handler key with subkeys",
         [](Scratch& s) { CreatePath(s.cr(), (std::wstring(HANDLER_KEY_PATH) + L"\\Sub\\Deeper").c_str()); },
         true, false},
        {"another handler as REG_BINARY",
         [](Scratch& s) { SetValue(s.cr(), HANDLER_KEY_PATH, L"", kOther, REG_BINARY); }, true, false},
        {"another handler, not registered", [](Scratch& s) { SetValue(s.cr(), HANDLER_KEY_PATH, L"", kOther); },
         false, true},
        {"ours as REG_EXPAND_SZ, not registered",
         [](Scratch& s) { SetValue(s.cr(), HANDLER_KEY_PATH, L"", kOurs, REG_EXPAND_SZ); }, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Scratch s;
        ArrangeStock(s);
        row.arrange(s);
        ValueRead before = ReadValue(s.cr(), HANDLER_KEY_PATH, L"");
        if (row.registerFirst) {
            EXPECT_EQ(S_OK, RegisterServer(kBefore, kNative, kServerPath));
            ExpectEntries(s, {Handler::Ours, true, true, true});
        }
        EXPECT_EQ(S_OK, UnregisterServer(kBefore, kNative));
        EXPECT_EQ(row.handlerAfterRemoval, KeyExists(s.cr(), HANDLER_KEY_PATH));
        if (row.handlerAfterRemoval) EXPECT_TRUE(SameValue(before, ReadValue(s.cr(), HANDLER_KEY_PATH, L"")));
        EXPECT_TRUE(KeyExists(s.cr(), kHandlerParent));
        ExpectEntries(s, {row.handlerAfterRemoval ? Handler::Kept : Handler::Absent, false, false, false});
    }
}

// Our class in the prefix's own classes root as one registry view shows it,
// with `server` as its server's value (null: no class). A view flag reaches
// that root past the override of the predefined key.
void SetClassInView(REGSAM view, const wchar_t* server)
{
    HKEY clsid = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ALL_ACCESS | view, &clsid));
    RegDeleteTreeW(clsid, kOurs.c_str());
    if (server) SetValue(clsid, (kOurs + L"\\InProcServer32").c_str(), L"", server);
    RegCloseKey(clsid);
}

struct ClassOutOfViewsAtEnd {
    ~ClassOutOfViewsAtEnd()
    {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) SetClassInView(view, nullptr);
    }
};

// The 32-bit DLL on 64-bit Windows registers its class for 32-bit programs
// only, while Explorer reads the one handler key that both registry views
// share: the key may name our class only while the native view holds it.
// Every other view the half could ask by mistake answers the other way: the
// 32-bit view (where there are two) holds our class exactly when the native
// view does not, and so does, before a registration, the scratch classes root
// that no view flag reaches.
TEST(Registration, Wow64HalfSwitchesTheSharedKeyOnlyBesideTheNativeClass)
{
    const bool twoViews = sizeof(void*) == 8 || RunsUnderWow64();
    struct Row {
        const char* label;
        RegistrationRegime regime;
        bool registering;           // or removing
        const wchar_t* nativeServer;  // the native class's server; null: no class
        Handler after;
    } rows[] = {
        {"6.x, registered alone", kVista, true, nullptr, Handler::Stock},
        {"6.x, registered beside the native class", kVista, true, kServerPath, Handler::Ours},
        {"6.x, beside a native class without a server", kVista, true, L"", Handler::Stock},
        {"5.x, registered alone", kBefore, true, nullptr, Handler::Absent},
        {"5.x, registered beside the native class", kBefore, true, kServerPath, Handler::Ours},
        {"6.x, removed while the native class stays", kVista, false, kServerPath, Handler::Ours},
        {"6.x, removed after the native class", kVista, false, nullptr, Handler::Stock},
        {"6.x, removed beside a native class without a server", kVista, false, L"", Handler::Stock},
        {"5.x, removed while the native class stays", kBefore, false, kServerPath, Handler::Ours},
        {"5.x, removed after the native class", kBefore, false, nullptr, Handler::Absent},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Scratch s;
        ClassOutOfViewsAtEnd views;
        const bool native = row.nativeServer && row.nativeServer[0];
        SetClassInView(KEY_WOW64_64KEY, row.nativeServer);
        if (twoViews) SetClassInView(KEY_WOW64_32KEY, native ? nullptr : kServerPath);
        if (row.registering) {
            ArrangeStock(s);
            if (row.regime == kBefore) s.Delete(s.cr(), HANDLER_KEY_PATH);
            if (!native) SetValue(s.cr(), kServerKey.c_str(), L"", kServerPath);
            EXPECT_EQ(S_OK, RegisterServer(row.regime, kWow64, kServerPath));
            ExpectEntries(s, {row.after, true, true, true, row.regime == kVista ? row.after : Handler::Stock});
        } else {
            ArrangeRegistered(s);
            EXPECT_EQ(S_OK, UnregisterServer(row.regime, kWow64));
            ExpectEntries(s, {row.after, false, false, false, row.regime == kVista ? row.after : Handler::Ours});
        }
    }
}

// Registration goes through all its steps but answers E_FAIL when any entry
// is missing afterwards; a key that must exist and does not stops it there.
TEST(Registration, RegistrationReportsEveryEntryItCouldNotWrite)
{
    struct Row {
        const char* label;
        RegistrationRegime regime;
        void (*arrange)(Scratch&);
        const wchar_t* path;
        HRESULT result;
        Entries after;
    } rows[] = {
        {"6.0, all in place", kVista, [](Scratch&) {}, kServerPath, S_OK,
         {Handler::Ours, true, true, true, Handler::Ours}},
        {"5.x, all in place", kBefore, [](Scratch&) {}, kServerPath, S_OK,
         {Handler::Ours, true, true, true, Handler::Stock}},
        {"6.0, no handler key", kVista, [](Scratch& s) { s.Delete(s.cr(), HANDLER_KEY_PATH); }, kServerPath,
         E_FAIL, {Handler::Absent, false, false, false, Handler::Stock}},
        {"5.x, no lnkfile", kBefore, [](Scratch& s) { s.Delete(s.cr(), L"lnkfile"); }, kServerPath, E_FAIL,
         {Handler::Absent, false, false, false}},
        {"6.0, empty module path", kVista, [](Scratch&) {}, L"", E_FAIL, {Handler::Stock, false, false, false}},
        {"5.x, empty module path", kBefore, [](Scratch&) {}, L"", E_FAIL, {Handler::Stock, false, false, false}},
        {"6.0, no CLSID", kVista, [](Scratch& s) { s.Delete(s.cr(), L"CLSID"); }, kServerPath, E_FAIL,
         {Handler::Ours, false, false, false}},
        {"5.x, no approval key", kBefore, [](Scratch& s) { s.Delete(s.lm(), APPROVAL_KEY_PATH); }, kServerPath,
         E_FAIL, {Handler::Ours, true, true, false}},
        {"6.0, class key cannot be created", kVista, [](Scratch& s) { s.MakeVolatile(L"CLSID"); }, kServerPath,
         E_FAIL, {Handler::Ours, false, false, true}},
        {"5.x, server key cannot be created", kBefore, [](Scratch& s) { s.MakeVolatile(kClassKey); },
         kServerPath, E_FAIL, {Handler::Ours, true, false, true}},
        {"5.x, handler key cannot be created", kBefore, [](Scratch& s) { s.MakeVolatile(L"lnkfile\\shellex"); },
         kServerPath, E_FAIL, {Handler::Absent, true, true, true}},
        // Nothing is written through a link at a key that holds our entries.
        {"6.0, the handler key a link", kVista, [](Scratch& s) { s.LinkToDecoy(s.cr(), HANDLER_KEY_PATH, kStock); },
         kServerPath, E_FAIL, {Handler::Absent, false, false, false}},
        {"5.x, the handler key a link", kBefore, [](Scratch& s) { s.LinkToDecoy(s.cr(), HANDLER_KEY_PATH, kStock); },
         kServerPath, E_FAIL, {Handler::Absent, true, true, true}},
        {"6.0, the class key a link", kVista, [](Scratch& s) { s.LinkToDecoy(s.cr(), kClassKey, kOther); },
         kServerPath, E_FAIL, {Handler::Ours, false, false, true}},
        {"5.x, the class key a link", kBefore, [](Scratch& s) { s.LinkToDecoy(s.cr(), kClassKey, kOther); },
         kServerPath, E_FAIL, {Handler::Ours, false, false, true}},
        {"6.0, the server key a link", kVista, [](Scratch& s) { s.LinkToDecoy(s.cr(), kServerKey, kOther); },
         kServerPath, E_FAIL, {Handler::Ours, true, false, true}},
        {"6.0, the approval key a link", kVista, [](Scratch& s) { s.LinkToDecoy(s.lm(), APPROVAL_KEY_PATH, kOther); },
         kServerPath, E_FAIL, {Handler::Ours, true, true, false}},
        {"5.x, the approval key a link", kBefore,
         [](Scratch& s) { s.LinkToDecoy(s.lm(), APPROVAL_KEY_PATH, kOther); }, kServerPath, E_FAIL,
         {Handler::Ours, true, true, false}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Scratch s;
        ArrangeStock(s);
        row.arrange(s);
        EXPECT_EQ(row.result, RegisterServer(row.regime, kNative, row.path));
        s.ExpectDecoyUntouchedAndUnlink();
        ExpectEntries(s, row.after);
    }
}

// Removal tries every step; it fails when "CLSID" or the approval key cannot
// be opened, or when something it set out to remove is still there.
TEST(Registration, RemovalReportsEveryEntryLeftBehind)
{
    struct Row {
        const char* label;
        RegistrationRegime regime;
        void (*arrange)(Scratch&);
        HRESULT result;
        Entries after;
    } rows[] = {
        {"6.0, all registered", kVista, [](Scratch&) {}, S_OK, {Handler::Stock, false, false, false, Handler::Stock}},
        {"5.x, all registered", kBefore, [](Scratch&) {}, S_OK, {Handler::Absent, false, false, false, Handler::Ours}},
        {"6.0, class key and approval value already gone", kVista,
         [](Scratch& s) {
             s.Delete(s.cr(), kClassKey);
             RegDeleteKeyValueW(s.lm(), APPROVAL_KEY_PATH, kOurs.c_str());
         },
         S_OK, {Handler::Stock, false, false, false}},
        {"6.0, no handler key", kVista, [](Scratch& s) { s.Delete(s.cr(), HANDLER_KEY_PATH); }, S_OK,
         {Handler::Absent, false, false, false}},
        {"5.x, no CLSID", kBefore, [](Scratch& s) { s.Delete(s.cr(), L"CLSID"); }, E_FAIL,
         {Handler::Absent, false, false, false}},
        {"6.0, no approval key", kVista, [](Scratch& s) { s.Delete(s.lm(), APPROVAL_KEY_PATH); }, E_FAIL,
         {Handler::Stock, false, false, false}},
        {"6.0, class key keeps a subkey", kVista, [](Scratch& s) { s.Lock(kClassKey + L"\\Extra"); }, E_FAIL,
         {Handler::Stock, true, false, false}},
        {"5.x, handler key keeps a subkey", kBefore,
         [](Scratch& s) { s.Lock(std::wstring(HANDLER_KEY_PATH) + L"\\Extra"); }, E_FAIL,
         {Handler::Ours, false, false, false}},
        {"6.0, links below the class key", kVista, [](Scratch& s) { s.PlantLinks(kClassKey + L"\\Extra"); }, S_OK,
         {Handler::Stock, false, false, false}},
        {"6.0, a link below the class key that may be deleted but not read", kVista,
         [](Scratch& s) {
             SetValue(s.lm(), L"Victim\\Inner", L"Note", L"kept");
             s.AddDeleteOnlyLink(kClassKey + L"\\Extra\\Sealed", s.lm(), L"Victim\\Inner");
         },
         S_OK, {Handler::Stock, false, false, false}},
        // Nothing is written through a link where our entries were.
        {"6.0, the handler key a link", kVista, [](Scratch& s) { s.LinkToDecoy(s.cr(), HANDLER_KEY_PATH, kOurs); },
         S_OK, {Handler::Absent, false, false, false}},
        {"5.x, the handler key a link", kBefore, [](Scratch& s) { s.LinkToDecoy(s.cr(), HANDLER_KEY_PATH, kOurs); },
         S_OK, {Handler::Absent, false, false, false}},
        {"6.0, the approval key a link", kVista,
         [](Scratch& s) { s.LinkToDecoy(s.lm(), APPROVAL_KEY_PATH, kOurs); }, E_FAIL,
         {Handler::Stock, false, false, false}},
        {"6.0, the handler key and the approval key links", kVista,
         [](Scratch& s) {
             s.LinkToDecoy(s.cr(), HANDLER_KEY_PATH, kOurs);
             s.LinkToDecoy(s.lm(), APPROVAL_KEY_PATH, kOurs);
         },
         E_FAIL, {Handler::Absent, false, false, false}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Scratch s;
        ArrangeRegistered(s);
        row.arrange(s);
        EXPECT_EQ(row.result, UnregisterServer(row.regime, kNative));
        s.ExpectDecoyUntouchedAndUnlink();
        ExpectEntries(s, row.after);
        EXPECT_TRUE(KeyExists(s.cr(), kHandlerParent));
        s.ExpectVictimKept();
    }
}

// "Tree" and keys below it, `levels` keys in all, one below the other.
std::wstring Chain(int levels)
{
    std::wstring path = L"Tree";
    for (int level = 1; level < levels; ++level) path += L"\\k";
    return path;
}

TEST(Registration, DeleteKeyTreeRemovesWhatItCanAndSaysWhetherTheKeyIsGone)
{
    struct Row {
        const char* label;
        void (*arrange)(Scratch&);
        bool gone;
        std::vector<std::wstring> kept;
    } rows[] = {
        {"absent", [](Scratch&) {}, true, {}},
        {"leaf", [](Scratch& s) { CreatePath(s.cr(), L"Tree"); }, true, {}},
        {"nested subkeys with values",
         [](Scratch& s) {
             SetValue(s.cr(), L"Tree\\a\\b\\c", L"v", L"1");
             SetValue(s.cr(), L"Tree\\a\\d", L"", L"2");
             CreatePath(s.cr(), L"Tree\\e");
         },
         true, {}},
        {"subkey name of the longest length",
         [](Scratch& s) { CreatePath(s.cr(), (L"Tree\\" + std::wstring(255, L'n') + L"\\child").c_str()); }, true,
         {}},
        {"a subkey that resists",
         [](Scratch& s) {
             CreatePath(s.cr(), L"Tree\\a\\b");
             s.Lock(L"Tree\\m");
             CreatePath(s.cr(), L"Tree\\z");
         },
         false, {L"Tree\\m"}},
        // The walk goes no deeper than the registry allows keys to be.
        {"as deep as the registry allows", [](Scratch& s) { CreatePath(s.cr(), Chain(512).c_str()); }, true, {}},
        {"deeper than the registry allows", [](Scratch& s) { CreatePath(s.cr(), Chain(513).c_str()); }, false, {}},
        {"links to a key elsewhere and back up",
         [](Scratch& s) {
             CreatePath(s.cr(), L"Tree\\e");
             s.PlantLinks(L"Tree\\a");
         },
         true, {}},
        {"a link itself",
         [](Scratch& s) {
             SetValue(s.lm(), L"Victim\\Inner", L"Note", L"kept");
             s.AddLink(L"Tree", s.lm(), L"Victim");
         },
         true, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Scratch s;
        row.arrange(s);
        EXPECT_EQ(row.gone, DeleteKeyTree(s.cr(), L"Tree"));
        EXPECT_EQ(!row.gone, KeyExists(s.cr(), L"Tree"));
        for (const wchar_t* deleted : {L"Tree\\a", L"Tree\\e", L"Tree\\z"})
            EXPECT_FALSE(KeyExists(s.cr(), deleted)) << deleted;
        for (const std::wstring& path : row.kept) EXPECT_TRUE(s.IsLocked(path));
        s.ExpectVictimKept();
    }
}

TEST(Registration, ReadModulePathRefusesAPathCutShort)
{
    HINSTANCE self = GetModuleHandleW(nullptr);
    wchar_t full[1040] = {};
    DWORD length = GetModuleFileNameW(self, full, 1040);
    ASSERT_GT(length, 0u);
    struct Row {
        const char* label;
        HINSTANCE module;
        DWORD capacity;
        bool whole;
    } rows[] = {
        {"ample buffer", self, 1040, true},
        {"exactly room for the terminator", self, length + 1, true},
        {"no room for the terminator", self, length, false},
        {"one character", self, 1, false},
        {"not a module", reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(0x10)), 1040, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::vector<wchar_t> path(row.capacity, L'x');
        EXPECT_EQ(row.whole, ReadModulePath(row.module, path.data(), row.capacity));
        if (row.whole) EXPECT_STREQ(full, path.data());
    }
}

}  // namespace
