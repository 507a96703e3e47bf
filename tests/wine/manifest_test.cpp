// What the program's manifest does, read inside a process that carries the program's own
// resources: the system made the thread aware of each screen's scale (the second version
// where the system has it) and loaded version 6 of the common controls.
#include <windows.h>

#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Resolved at run time: older systems (and some Wine versions) lack them.
using GetThreadContextFn = HANDLE(WINAPI*)();
using ContextsEqualFn = BOOL(WINAPI*)(HANDLE, HANDLE);
using AwarenessOfContextFn = int(WINAPI*)(HANDLE);
using IsValidContextFn = BOOL(WINAPI*)(HANDLE);

// The system's fixed values (winuser.h), kept here so that older headers do too.
const HANDLE kPerMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
constexpr int kPerMonitorAware = 2;

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                  : nullptr;
}

// A setting of the process's activation context, empty when it has none.
std::wstring ProcessSetting(const wchar_t* ns, const wchar_t* name) {
    using QuerySettingsFn =
        BOOL(WINAPI*)(DWORD, HANDLE, const wchar_t*, const wchar_t*, wchar_t*, SIZE_T, SIZE_T*);
    const auto query =
        Resolve<QuerySettingsFn>(GetModuleHandleW(L"kernel32.dll"), "QueryActCtxSettingsW");
    wchar_t value[64] = {};
    SIZE_T written = 0;
    if (query == nullptr || !query(0, nullptr, ns, name, value, 64, &written)) {
        return std::wstring();
    }
    return value;
}

TEST(Manifest, TheThreadIsAwareOfEachScreensScale) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto getContext = Resolve<GetThreadContextFn>(user32, "GetThreadDpiAwarenessContext");
    const auto equal = Resolve<ContextsEqualFn>(user32, "AreDpiAwarenessContextsEqual");
    const auto awareness =
        Resolve<AwarenessOfContextFn>(user32, "GetAwarenessFromDpiAwarenessContext");
    const auto isValid = Resolve<IsValidContextFn>(user32, "IsValidDpiAwarenessContext");
    ASSERT_NE(getContext, nullptr) << "the system has no per-thread DPI awareness";
    ASSERT_NE(awareness, nullptr);
    const HANDLE context = getContext();
    EXPECT_EQ(awareness(context), kPerMonitorAware);
    // Where the system knows the second version, the manifest asked for it.
    const bool v2 = equal != nullptr && equal(context, kPerMonitorV2);
    if (equal != nullptr && isValid != nullptr && isValid(kPerMonitorV2)) {
        EXPECT_TRUE(v2) << "per-monitor, but not the second version";
    }
    // What the system read from the manifest as it started the program.
    const std::wstring v1 =
        ProcessSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware");
    const std::wstring v2Setting =
        ProcessSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness");
    EXPECT_EQ(v1, L"true/pm");
    EXPECT_EQ(v2Setting, L"PerMonitorV2");
    std::printf(
        "thread DPI awareness: %d (2 = per monitor), per-monitor v2: %s; "
        "dpiAware \"%ls\", dpiAwareness \"%ls\"\n",
        awareness(context), v2 ? "yes" : "no", v1.c_str(), v2Setting.c_str());
}

// No flag and no handle: the process's own activation context, the one the system made from
// the program's manifest as it started it.
constexpr DWORD kProcessContext = 0;

// The assemblies of the program's activation context, by their identity strings
// ("Name,processorArchitecture=...,version=...") and folders.
struct Assembly {
    std::wstring identity;
    std::wstring folder;
};

std::vector<Assembly> ActiveAssemblies() {
    SIZE_T size = 0;
    QueryActCtxW(kProcessContext, nullptr, nullptr, ActivationContextDetailedInformation, nullptr,
                 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 ||
        !QueryActCtxW(kProcessContext, nullptr, nullptr, ActivationContextDetailedInformation,
                      buffer.data(), size, nullptr)) {
        return {};
    }
    const DWORD count =
        reinterpret_cast<const ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(buffer.data())
            ->ulAssemblyCount;
    std::vector<Assembly> out;
    for (DWORD index = 1; index <= count; ++index) {
        size = 0;
        QueryActCtxW(kProcessContext, nullptr, &index,
                     AssemblyDetailedInformationInActivationContext, nullptr, 0, &size);
        std::vector<BYTE> info(size);
        if (size == 0 || !QueryActCtxW(kProcessContext, nullptr, &index,
                                       AssemblyDetailedInformationInActivationContext, info.data(),
                                       size, nullptr)) {
            continue;
        }
        const auto* a =
            reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(info.data());
        out.push_back({a->lpAssemblyEncodedAssemblyIdentity
                           ? std::wstring(a->lpAssemblyEncodedAssemblyIdentity)
                           : std::wstring(),
                       a->lpAssemblyDirectoryName ? std::wstring(a->lpAssemblyDirectoryName)
                                                  : std::wstring()});
    }
    return out;
}

// Real Windows says so through DllGetVersion; Wine's common controls answer 5.81 in both
// versions, so the proof is where the library came from: the side-by-side assembly of
// version 6 that the manifest asked for.
TEST(Manifest, TheCommonControlsAreVersion6) {
    const Assembly* controls = nullptr;
    const std::vector<Assembly> assemblies = ActiveAssemblies();
    for (const Assembly& a : assemblies) {
        if (a.identity.rfind(L"Microsoft.Windows.Common-Controls,", 0) == 0) {
            controls = &a;
        }
    }
    ASSERT_NE(controls, nullptr) << "the program asks for no common controls";
    EXPECT_NE(controls->identity.find(L"version=\"6."), std::wstring::npos);

    const HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    std::wstring lower(path);
    CharLowerW(lower.data());
    std::wstring folder = controls->folder;
    CharLowerW(folder.data());
    EXPECT_FALSE(folder.empty());
    EXPECT_NE(lower.find(folder), std::wstring::npos) << "comctl32 is not the assembly's";

    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;
    const auto getVersion = Resolve<DLLGETVERSIONPROC>(comctl, "DllGetVersion");
    ASSERT_NE(getVersion, nullptr);
    ASSERT_EQ(getVersion(&info), S_OK);
    std::printf("assembly %ls\ncomctl32 from %ls, DllGetVersion %lu.%lu.%lu\n",
                controls->identity.c_str(), path, info.dwMajorVersion, info.dwMinorVersion,
                info.dwBuildNumber);
    if (lower.find(L"\\system32\\") != std::wstring::npos) {
        // On Windows the assembly's library lies in WinSxS, and it tells its version.
        EXPECT_EQ(info.dwMajorVersion, 6u);
    }
    FreeLibrary(comctl);
}

// No elevation, and the systems named as known.
TEST(Manifest, RunsAsTheInvokerOnTheNamedSystems) {
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    ASSERT_TRUE(QueryActCtxW(kProcessContext, nullptr, nullptr,
                             RunlevelInformationInActivationContext, &level, sizeof level,
                             nullptr));
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);

    alignas(8) BYTE buffer[sizeof(ACTIVATION_CONTEXT_COMPATIBILITY_INFORMATION) +
                           16 * sizeof(COMPATIBILITY_CONTEXT_ELEMENT)] = {};
    ASSERT_TRUE(QueryActCtxW(kProcessContext, nullptr, nullptr,
                             CompatibilityInformationInActivationContext, buffer, sizeof buffer,
                             nullptr));
    // Windows 7, 8, 8.1, 10 and 11.
    const GUID wanted[] = {
        {0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}},
        {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}},
        {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}},
        {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}},
    };
    // The elements' layout differs between system versions (a later one added a field), so
    // each identifier is looked for in the answer's bytes.
    int found = 0;
    for (const GUID& id : wanted) {
        for (size_t at = sizeof(DWORD); at + sizeof id <= sizeof buffer; ++at) {
            if (std::memcmp(buffer + at, &id, sizeof id) == 0) {
                ++found;
                break;
            }
        }
    }
    EXPECT_EQ(found, 4);
    std::printf("run level %d (1 = as invoker), %d of the 4 systems named\n",
                static_cast<int>(level.RunLevel), found);
}

}  // namespace
