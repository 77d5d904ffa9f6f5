/* Registration of the proxy/stub DLL beside other vendors' proxies for the same interfaces.
 * The OPC interface identifiers are the standard ones, which other proxy DLLs register too:
 * an interface whose ProxyStubClsid32 already names another DLL's class keeps it, and the
 * factory has a class identifier of its own (not an interface identifier, as the default one
 * is), so registering and unregistering this DLL never changes another DLL's entries. */
#include <rpcproxy.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

/* The proxy files and the factory's class, as the generated dlldata.c hands them out. */
void RPC_ENTRY GetProxyDllInfo(const ProxyFileInfo*** files, const CLSID** clsid);

#define VELQOR_KEY_CHARS 80
#define VELQOR_PATH_CHARS (MAX_PATH * 4)

enum Owner { Unclaimed, Ours, Foreign };

struct Registration {
    const ProxyFileInfo** files;
    const CLSID* ours;
    WCHAR path[VELQOR_PATH_CHARS]; /* this DLL's file */
    /* The class of an earlier registration of this same file (an older build registered its
     * proxies under another class): its interfaces count as ours, and the class goes. */
    CLSID former;
    BOOL hasFormer;
};

/* "<head><guid><tail>", e.g. "Interface\{...}\NumMethods". */
static const WCHAR* KeyPath(WCHAR* out, const WCHAR* head, const GUID* guid, const WCHAR* tail) {
    WCHAR text[40];
    StringFromGUID2(guid, text, 40);
    wcscpy(out, head);
    wcscat(out, text);
    wcscat(out, tail);
    return out;
}

static HRESULT Begin(struct Registration* r) {
    HMODULE self;
    DWORD length;
    GetProxyDllInfo(&r->files, &r->ours);
    r->hasFormer = FALSE;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            (LPCWSTR)(void*)&Begin, &self))
        return HRESULT_FROM_WIN32(GetLastError());
    length = GetModuleFileNameW(self, r->path, VELQOR_PATH_CHARS);
    return length == 0 || length == VELQOR_PATH_CHARS
               ? HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)
               : S_OK;
}

static BOOL ServedByThisFile(const struct Registration* r, const CLSID* clsid) {
    WCHAR key[VELQOR_KEY_CHARS], server[VELQOR_PATH_CHARS];
    DWORD size = sizeof server;
    return RegGetValueW(HKEY_CLASSES_ROOT, KeyPath(key, L"CLSID\\", clsid, L"\\InprocServer32"),
                        NULL, RRF_RT_REG_SZ, NULL, server, &size) == ERROR_SUCCESS &&
           lstrcmpiW(server, r->path) == 0;
}

/* Whose proxy an interface is registered with: none, ours, or another DLL's (any other text,
 * even one that names no class, is left as its writer left it). */
static enum Owner OwnerOf(struct Registration* r, const IID* iid) {
    WCHAR key[VELQOR_KEY_CHARS], text[VELQOR_KEY_CHARS];
    DWORD type = REG_NONE, size = sizeof text;
    CLSID named;
    LONG rc =
        RegGetValueW(HKEY_CLASSES_ROOT, KeyPath(key, L"Interface\\", iid, L"\\ProxyStubClsid32"),
                     NULL, RRF_RT_ANY, &type, text, &size);
    if (rc == ERROR_FILE_NOT_FOUND || (rc == ERROR_SUCCESS && type == REG_SZ && !text[0]))
        return Unclaimed;
    if (rc != ERROR_SUCCESS || type != REG_SZ || CLSIDFromString(text, &named) != NOERROR)
        return Foreign;
    if (IsEqualGUID(&named, r->ours)) return Ours;
    if (!ServedByThisFile(r, &named)) return Foreign;
    r->former = named;
    r->hasFormer = TRUE;
    return Ours;
}

static void ForgetFormerClass(const struct Registration* r) {
    WCHAR key[VELQOR_KEY_CHARS];
    if (r->hasFormer && !IsEqualGUID(&r->former, r->ours))
        RegDeleteTreeW(HKEY_CLASSES_ROOT, KeyPath(key, L"CLSID\\", &r->former, L""));
}

static LONG SetText(const WCHAR* key, const WCHAR* name, const WCHAR* text) {
    return RegSetKeyValueW(HKEY_CLASSES_ROOT, key, name, REG_SZ, text,
                           (DWORD)((wcslen(text) + 1) * sizeof(WCHAR)));
}

/* The interface's name, method count and proxy class. */
static LONG RegisterInterface(const IID* iid, const char* name, unsigned long methods,
                              const WCHAR* ours) {
    WCHAR key[VELQOR_KEY_CHARS], text[VELQOR_KEY_CHARS];
    LONG rc;
    size_t i;
    for (i = 0; name && name[i] && i + 1 < VELQOR_KEY_CHARS; ++i)
        text[i] = (WCHAR)(unsigned char)name[i];
    text[i] = 0;
    rc = SetText(KeyPath(key, L"Interface\\", iid, L""), NULL, text);
    if (rc == ERROR_SUCCESS)
        rc = SetText(KeyPath(key, L"Interface\\", iid, L"\\NumMethods"), NULL,
                     _ultow(methods, text, 10));
    if (rc == ERROR_SUCCESS)
        rc = SetText(KeyPath(key, L"Interface\\", iid, L"\\ProxyStubClsid32"), NULL, ours);
    return rc;
}

/* Our entries of the interface; the key itself goes only when nothing else is left in it. */
static void UnregisterInterface(const IID* iid) {
    WCHAR key[VELQOR_KEY_CHARS];
    RegDeleteKeyW(HKEY_CLASSES_ROOT, KeyPath(key, L"Interface\\", iid, L"\\ProxyStubClsid32"));
    RegDeleteKeyW(HKEY_CLASSES_ROOT, KeyPath(key, L"Interface\\", iid, L"\\NumMethods"));
    RegDeleteKeyW(HKEY_CLASSES_ROOT, KeyPath(key, L"Interface\\", iid, L""));
}

HRESULT STDAPICALLTYPE DllRegisterServer(void) {
    struct Registration r;
    const ProxyFileInfo** file;
    WCHAR ours[40], key[VELQOR_KEY_CHARS];
    LONG rc;
    HRESULT hr = Begin(&r);
    if (FAILED(hr)) return hr;
    StringFromGUID2(r.ours, ours, 40);
    rc = SetText(KeyPath(key, L"CLSID\\", r.ours, L""), NULL, L"Velqor OPC proxy/stub factory");
    if (rc == ERROR_SUCCESS)
        rc = SetText(KeyPath(key, L"CLSID\\", r.ours, L"\\InprocServer32"), NULL, r.path);
    if (rc == ERROR_SUCCESS) rc = SetText(key, L"ThreadingModel", L"Both");
    for (file = r.files; rc == ERROR_SUCCESS && *file; ++file) {
        unsigned long i;
        for (i = 0; rc == ERROR_SUCCESS && i < (*file)->TableSize; ++i) {
            const CInterfaceStubHeader* stub = &(*file)->pStubVtblList[i]->header;
            if (OwnerOf(&r, stub->piid) != Foreign)
                rc = RegisterInterface(stub->piid, (*file)->pNamesArray[i],
                                       stub->DispatchTableCount, ours);
        }
    }
    if (rc == ERROR_SUCCESS) ForgetFormerClass(&r);
    return HRESULT_FROM_WIN32(rc);
}

HRESULT STDAPICALLTYPE DllUnregisterServer(void) {
    struct Registration r;
    const ProxyFileInfo** file;
    WCHAR key[VELQOR_KEY_CHARS];
    LONG rc;
    HRESULT hr = Begin(&r);
    if (FAILED(hr)) return hr;
    for (file = r.files; *file; ++file) {
        unsigned long i;
        for (i = 0; i < (*file)->TableSize; ++i) {
            const IID* iid = (*file)->pStubVtblList[i]->header.piid;
            if (OwnerOf(&r, iid) == Ours) UnregisterInterface(iid);
        }
    }
    ForgetFormerClass(&r);
    rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, KeyPath(key, L"CLSID\\", r.ours, L""));
    return rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}
