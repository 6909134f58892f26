// Reads a program's manifest the way the system does when it starts the
// program (an activation context from its resource 1, or from a manifest
// file) and prints what the system took from it:
//   run_level=N supported_os=N dpi_aware=TEXT comctl32_v6=0|1
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: manifest_probe PROGRAM.exe|FILE.manifest\n");
        return 2;
    }
    ACTCTXW request = {};
    request.cbSize = sizeof request;
    request.lpSource = argv[1];
    size_t length = std::wcslen(argv[1]);
    if (length < 9 || _wcsicmp(argv[1] + length - 9, L".manifest") != 0) {
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpResourceName = MAKEINTRESOURCEW(1);
    }
    HANDLE context = CreateActCtxW(&request);
    if (context == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "manifest_probe: the system refuses the manifest (error %lu)\n", GetLastError());
        return 1;
    }

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    if (!QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &level, sizeof level, nullptr))
        level.RunLevel = ACTCTX_RUN_LEVEL_UNSPECIFIED;

    SIZE_T needed = 0;
    QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed + sizeof(ACTIVATION_CONTEXT_COMPATIBILITY_INFORMATION));
    DWORD systems = 0;
    if (QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, buffer.data(), buffer.size(),
                     nullptr)) {
        // Our manifests declare systems only; the element's size differs
        // between versions of the headers, its count does not.
        systems = reinterpret_cast<ACTIVATION_CONTEXT_COMPATIBILITY_INFORMATION*>(buffer.data())->ElementCount;
    }

    wchar_t dpi[32] = L"-";
    SIZE_T written = 0;
    if (!QueryActCtxSettingsW(0, context, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", dpi,
                              ARRAYSIZE(dpi), &written))
        std::wcscpy(dpi, L"-");

    // Common controls 6 is a side-by-side assembly: within the context the
    // library's name is redirected to it.
    ULONG_PTR cookie = 0;
    int comctl6 = 0;
    if (ActivateActCtx(context, &cookie)) {
        ACTCTX_SECTION_KEYED_DATA data = {};
        data.cbSize = sizeof data;
        comctl6 = FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll",
                                           &data) ? 1 : 0;
        DeactivateActCtx(0, cookie);
    }
    ReleaseActCtx(context);
    std::printf("run_level=%d supported_os=%lu dpi_aware=%ls comctl32_v6=%d\n", static_cast<int>(level.RunLevel),
                systems, dpi, comctl6);
    return 0;
}
