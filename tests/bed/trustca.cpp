// trustca: test-bed helper run under Wine by tests/bed/setup.sh.
//
//   trustca.exe CA.der
//       Adds the DER certificate to the LocalMachine "Root" store of the
//       prefix (replacing an existing copy) and checks that it is there.
//   trustca.exe --probe URL EXPECT
//       GETs URL with WinHTTP and checks the outcome.  EXPECT is
//       "200:N" (status 200 and exactly N body bytes of the bed pattern,
//       byte i == (i * 131 + 7) % 256) or "error:CODE" (the request fails
//       with that WinHTTP error, e.g. error:12157 for a refused certificate).
//   trustca.exe --stream-probe N:\DIR\NAME
//       Writes NAME with a Zone.Identifier stream, renames it to NAME.moved
//       and reads the stream back through the new name.  Leaves NAME.moved
//       so the caller can check the stream from Linux.
//
// Exit code 0 on success, non-zero (with a message on stderr) otherwise.

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

int fail(const wchar_t* what, DWORD err) {
    fwprintf(stderr, L"trustca: %ls failed, error %lu\n", what, static_cast<unsigned long>(err));
    return 1;
}

bool readFile(const wchar_t* path, std::vector<unsigned char>& out) {
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    out.clear();
    unsigned char buf[4096];
    DWORD got = 0;
    bool ok = true;
    for (;;) {
        if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) { ok = false; break; }
        if (got == 0) break;
        out.insert(out.end(), buf, buf + got);
    }
    CloseHandle(h);
    return ok;
}

bool writeFile(const wchar_t* path, const char* text) {
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD len = static_cast<DWORD>(strlen(text)), put = 0;
    bool ok = WriteFile(h, text, len, &put, nullptr) && put == len;
    ok = CloseHandle(h) && ok;
    return ok;
}

int trustCa(const wchar_t* derPath) {
    std::vector<unsigned char> der;
    if (!readFile(derPath, der)) return fail(L"reading the CA file", GetLastError());
    if (der.empty()) return fail(L"reading the CA file (empty)", ERROR_INVALID_DATA);

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) return fail(L"CertOpenStore(LocalMachine Root)", GetLastError());

    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
        DWORD e = GetLastError();
        CertCloseStore(store, 0);
        return fail(L"CertAddEncodedCertificateToStore", e);
    }
    CertCloseStore(store, 0);

    wchar_t name[512] = L"";
    CertGetNameStringW(added, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 512);
    CertFreeCertificateContext(added);

    // Open the store afresh and make sure the certificate is really there,
    // comparing the encoded bytes.  Wine sometimes shows a just-added
    // certificate only a moment later, so look a few times.
    bool present = false;
    int attempt = 0;
    for (; attempt < 20 && !present; ++attempt) {
        if (attempt) Sleep(100);
        store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                              CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, L"Root");
        if (!store) return fail(L"re-opening LocalMachine Root", GetLastError());
        PCCERT_CONTEXT c = nullptr;
        while ((c = CertEnumCertificatesInStore(store, c)) != nullptr) {
            if (c->cbCertEncoded == der.size() && memcmp(c->pbCertEncoded, der.data(), der.size()) == 0) {
                present = true;
                CertFreeCertificateContext(c);
                break;
            }
        }
        CertCloseStore(store, 0);
    }
    if (!present) return fail(L"finding the added certificate in LocalMachine Root", static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    if (attempt > 1) fwprintf(stderr, L"trustca: the certificate showed up at look %d\n", attempt);
    wprintf(L"trustca: trusted \"%ls\" in LocalMachine\\Root\n", name);
    return 0;
}

int probe(const wchar_t* url, const wchar_t* expect) {
    bool wantOk = wcsncmp(expect, L"200:", 4) == 0;
    bool wantErr = wcsncmp(expect, L"error:", 6) == 0;
    if (!wantOk && !wantErr) {
        fwprintf(stderr, L"trustca: EXPECT must be 200:N or error:CODE\n");
        return 2;
    }
    unsigned long long wantBytes = wantOk ? wcstoull(expect + 4, nullptr, 10) : 0;
    DWORD wantCode = wantErr ? static_cast<DWORD>(wcstoul(expect + 6, nullptr, 10)) : 0;

    wchar_t host[256] = L"", path[2048] = L"";
    URL_COMPONENTS uc = {};
    uc.dwStructSize = sizeof uc;
    uc.lpszHostName = host;
    uc.dwHostNameLength = 256;
    uc.lpszUrlPath = path;
    uc.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url, 0, 0, &uc)) return fail(L"WinHttpCrackUrl", GetLastError());

    DWORD err = 0;
    DWORD status = 0;
    unsigned long long total = 0;
    bool pattern = true;
    HINTERNET session = WinHttpOpen(L"QuillmereBed/1", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET conn = nullptr, req = nullptr;
    if (!session) err = GetLastError();
    if (!err && !(conn = WinHttpConnect(session, host, uc.nPort, 0))) err = GetLastError();
    if (!err && !(req = WinHttpOpenRequest(conn, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           uc.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)))
        err = GetLastError();
    if (!err && !WinHttpSendRequest(req, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        err = GetLastError();
    if (!err && !WinHttpReceiveResponse(req, nullptr)) err = GetLastError();
    if (!err) {
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(req, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
            err = GetLastError();
    }
    if (!err) {
        std::vector<unsigned char> buf(65536);
        for (;;) {
            DWORD got = 0;
            if (!WinHttpReadData(req, buf.data(), static_cast<DWORD>(buf.size()), &got)) {
                err = GetLastError();
                break;
            }
            if (got == 0) break;
            for (DWORD i = 0; i < got; ++i)
                if (buf[i] != static_cast<unsigned char>(((total + i) * 131 + 7) % 256)) pattern = false;
            total += got;
        }
    }
    if (req) WinHttpCloseHandle(req);
    if (conn) WinHttpCloseHandle(conn);
    if (session) WinHttpCloseHandle(session);

    if (err)
        wprintf(L"trustca: probe %ls: error %lu\n", url, static_cast<unsigned long>(err));
    else
        wprintf(L"trustca: probe %ls: status %lu, %llu bytes, pattern %ls\n", url,
                static_cast<unsigned long>(status), total, pattern ? L"ok" : L"WRONG");
    if (wantErr) return err == wantCode ? 0 : 1;
    return (!err && status == 200 && total == wantBytes && pattern) ? 0 : 1;
}

int streamProbe(const wchar_t* file) {
    static const char zone[] = "[ZoneTransfer]\r\nZoneId=3\r\n";
    std::wstring name(file), moved = name + L".moved";
    std::wstring stream = name + L":Zone.Identifier";
    std::wstring movedStream = moved + L":Zone.Identifier";
    DeleteFileW(moved.c_str());
    if (!writeFile(name.c_str(), "bed\r\n")) return fail(L"writing the probe file", GetLastError());
    if (!writeFile(stream.c_str(), zone)) return fail(L"writing the Zone.Identifier stream", GetLastError());
    if (!MoveFileExW(name.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING))
        return fail(L"MoveFileExW of the probe file", GetLastError());
    std::vector<unsigned char> back;
    if (!readFile(movedStream.c_str(), back)) return fail(L"reading the stream after the rename", GetLastError());
    if (back.size() != sizeof zone - 1 || memcmp(back.data(), zone, back.size()) != 0) {
        fwprintf(stderr, L"trustca: stream content differs after the rename (%u bytes)\n",
                 static_cast<unsigned>(back.size()));
        return 1;
    }
    wprintf(L"trustca: stream probe %ls: stream travelled with the rename\n", file);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && argv[1][0] != L'-') return trustCa(argv[1]);
    if (argc == 4 && wcscmp(argv[1], L"--probe") == 0) return probe(argv[2], argv[3]);
    if (argc == 3 && wcscmp(argv[1], L"--stream-probe") == 0) return streamProbe(argv[2]);
    fwprintf(stderr,
             L"usage: trustca CA.der | trustca --probe URL 200:N|error:CODE"
             L" | trustca --stream-probe N:\\PATH\n");
    return 2;
}
