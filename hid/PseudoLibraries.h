// Libraries that are tables of entries inside this program, loaded, counted and looked up by
// name the way the system loads a DLL. The platforms that have no real "SetupApi.dll",
// "HID.dll" and "kernel32.dll" (Linux, the simulated one) serve them through this. Thread-safe.
#pragma once

#include "hid/WinTypes.h"

#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

struct PseudoExport {
    const char* Name;
    void* Entry;
};

template <class F> void* PseudoEntry(F* Function) {
    return reinterpret_cast<void*>(Function);
}

class PseudoLibraries {
public:
    struct Library {
        const char* FileName; // "SetupApi.dll"
        std::span<const PseudoExport> Exports;
        bool AlwaysLoaded = false; // kernel32: part of every process
    };
    struct Hooks {
        // Records a failing call's error for the platform's GetLastError.
        void (*SetError)(DWORD Error) = nullptr;
        // The first load of FileName; false refuses it as a missing file. Called under the lock.
        bool (*FirstLoad)(const char* FileName) = nullptr;
        // The matching last free. Called under the lock.
        void (*LastFree)(const char* FileName) = nullptr;
    };

    PseudoLibraries(std::vector<Library> Libraries, Hooks Calls);
    PseudoLibraries(const PseudoLibraries&) = delete;
    PseudoLibraries& operator=(const PseudoLibraries&) = delete;

    // The loader entries. Names match as Windows matches them: any case, ".dll" implied, the
    // folder ignored; lookups by ordinal find nothing; a null module name is the program.
    HMODULE LoadLibraryA(LPCSTR FileName);
    BOOL FreeLibrary(HMODULE Module);
    HMODULE GetModuleHandleA(LPCSTR ModuleName);
    void* GetProcAddress(HMODULE Module, LPCSTR ProcName);
    UINT SetErrorMode(UINT Mode);
    UINT ErrorMode() const;

    // The file name of a library's module; empty for anything else.
    std::string NameOf(HMODULE Module) const;
    // Loaded by a LoadLibraryA not freed yet.
    bool IsLoaded(const std::string& FileName) const;

    // For tests: a missing file, or a file without one of its entries.
    void SetPresent(const std::string& FileName, bool Present);
    void SetEntryPresent(const std::string& FileName, const std::string& Entry, bool Present);

private:
    struct Module {
        Library Lib{"", {}};
        bool Present = true;
        std::set<std::string> Missing;
        int References = 0;
    };

    // Caller holds FLock.
    Module* Named(LPCSTR FileName);
    Module* Known(HMODULE Handle);
    bool Loaded(const Module& M) const;
    template <class T> T Fail(DWORD Error, T Result) const;

    mutable std::mutex FLock;
    std::vector<Module> FModules; // never resized: the module handles are their addresses
    Module FProgram;              // what GetModuleHandleA(nullptr) names
    Hooks FHooks;
    UINT FErrorMode = 0;
};
