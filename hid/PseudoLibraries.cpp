#include "hid/PseudoLibraries.h"

#include <cstring>

namespace {

bool SameNameIgnoringCase(const std::string& A, const char* B) {
    const size_t n = std::strlen(B);
    if (A.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        const auto lower = [](char C) { return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C; };
        if (lower(A[i]) != lower(B[i])) return false;
    }
    return true;
}

} // namespace

PseudoLibraries::PseudoLibraries(std::vector<Library> Libraries, Hooks Calls) : FHooks(Calls) {
    FProgram.Lib = Library{"", {}, true};
    FModules.resize(Libraries.size());
    for (size_t i = 0; i < Libraries.size(); ++i) FModules[i].Lib = Libraries[i];
}

template <class T> T PseudoLibraries::Fail(DWORD Error, T Result) const {
    if (FHooks.SetError != nullptr) FHooks.SetError(Error);
    return Result;
}

PseudoLibraries::Module* PseudoLibraries::Named(LPCSTR FileName) {
    if (FileName == nullptr) return nullptr;
    std::string name(FileName);
    if (const size_t slash = name.find_last_of("/\\"); slash != std::string::npos)
        name.erase(0, slash + 1);
    if (name.find('.') == std::string::npos) name += ".dll";
    for (Module& m : FModules)
        if (SameNameIgnoringCase(name, m.Lib.FileName)) return &m;
    return nullptr;
}

PseudoLibraries::Module* PseudoLibraries::Known(HMODULE Handle) {
    for (Module& m : FModules)
        if (reinterpret_cast<HMODULE>(&m) == Handle) return &m;
    return reinterpret_cast<HMODULE>(&FProgram) == Handle ? &FProgram : nullptr;
}

bool PseudoLibraries::Loaded(const Module& M) const {
    return M.Present && (M.Lib.AlwaysLoaded || M.References > 0);
}

HMODULE PseudoLibraries::LoadLibraryA(LPCSTR FileName) {
    std::lock_guard lock(FLock);
    Module* m = Named(FileName);
    if (m == nullptr || !m->Present) return Fail(ERROR_MOD_NOT_FOUND, HMODULE(nullptr));
    if (m->References == 0 && !m->Lib.AlwaysLoaded && FHooks.FirstLoad != nullptr &&
        !FHooks.FirstLoad(m->Lib.FileName))
        return Fail(ERROR_MOD_NOT_FOUND, HMODULE(nullptr));
    if (!m->Lib.AlwaysLoaded) ++m->References;
    return reinterpret_cast<HMODULE>(m);
}

BOOL PseudoLibraries::FreeLibrary(HMODULE Handle) {
    std::lock_guard lock(FLock);
    Module* m = Known(Handle);
    // A library taken away after it was loaded can still be freed.
    if (m == nullptr || m == &FProgram || (m->References == 0 && !m->Lib.AlwaysLoaded))
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!m->Lib.AlwaysLoaded && --m->References == 0 && FHooks.LastFree != nullptr)
        FHooks.LastFree(m->Lib.FileName);
    return TRUE;
}

HMODULE PseudoLibraries::GetModuleHandleA(LPCSTR ModuleName) {
    if (ModuleName == nullptr) return reinterpret_cast<HMODULE>(&FProgram);
    std::lock_guard lock(FLock);
    Module* m = Named(ModuleName);
    if (m == nullptr || !Loaded(*m)) return Fail(ERROR_MOD_NOT_FOUND, HMODULE(nullptr));
    return reinterpret_cast<HMODULE>(m);
}

void* PseudoLibraries::GetProcAddress(HMODULE Handle, LPCSTR ProcName) {
    std::lock_guard lock(FLock);
    Module* m = Known(Handle);
    if (m == nullptr || !Loaded(*m)) return Fail(ERROR_INVALID_HANDLE, static_cast<void*>(nullptr));
    // A number in place of the name pointer is an ordinal.
    if (reinterpret_cast<uintptr_t>(ProcName) > 0xFFFF && m->Missing.count(ProcName) == 0) {
        for (const PseudoExport& e : m->Lib.Exports)
            if (std::strcmp(e.Name, ProcName) == 0) return e.Entry;
    }
    return Fail(ERROR_PROC_NOT_FOUND, static_cast<void*>(nullptr));
}

UINT PseudoLibraries::SetErrorMode(UINT Mode) {
    std::lock_guard lock(FLock);
    const UINT old = FErrorMode;
    FErrorMode = Mode;
    return old;
}

UINT PseudoLibraries::ErrorMode() const {
    std::lock_guard lock(FLock);
    return FErrorMode;
}

std::string PseudoLibraries::NameOf(HMODULE Handle) const {
    std::lock_guard lock(FLock);
    for (const Module& m : FModules)
        if (reinterpret_cast<HMODULE>(const_cast<Module*>(&m)) == Handle) return m.Lib.FileName;
    return {};
}

bool PseudoLibraries::IsLoaded(const std::string& FileName) const {
    std::lock_guard lock(FLock);
    auto* self = const_cast<PseudoLibraries*>(this);
    const Module* m = self->Named(FileName.c_str());
    return m != nullptr && m->References > 0;
}

void PseudoLibraries::SetPresent(const std::string& FileName, bool Present) {
    std::lock_guard lock(FLock);
    if (Module* m = Named(FileName.c_str())) m->Present = Present;
}

void PseudoLibraries::SetEntryPresent(const std::string& FileName, const std::string& Entry,
                                      bool Present) {
    std::lock_guard lock(FLock);
    Module* m = Named(FileName.c_str());
    if (m == nullptr) return;
    if (Present)
        m->Missing.erase(Entry);
    else
        m->Missing.insert(Entry);
}
