#pragma once

// The DAO database engine through COM late binding: the program holds the engine's IDispatch
// and calls its members by name, as a script would, so that it needs no type library and works
// with whichever DAO the machine has. Arguments the maintenance leaves out are passed as
// omitted (VT_ERROR with DISP_E_PARAMNOTFOUND) and take the engine's defaults. An error the
// engine raises becomes a tarnu::Error with DAO's own number and description.

#include <memory>
#include <string>
#include <vector>

#include "ports/dbengine.h"

namespace tarnu::win32 {

// The error raised when no DAO engine can be created.
constexpr std::int32_t NoDaoError = 429;

// The engine's class names, the first that can be created wins: DAO 3.6, which Access 2003 and
// Jet 4.0 bring, then the engine of newer Access versions and their runtime.
inline const std::vector<std::wstring> DaoProgIds = {L"DAO.DBEngine.36", L"DAO.DBEngine.120"};

// Creates the engine's automation object (an IDispatch* with one reference for the caller)
// from the first of progIds that COM can create. When none can be, raises NoDaoError with a
// German text: what to install when none is registered (naming the class names tried), else
// each registered one that failed with its HRESULT. COM must be initialised on the calling
// thread.
void* CreateDaoDispatch(const std::vector<std::wstring>& progIds = DaoProgIds);

// The engine over an automation object; takes over the caller's reference.
std::unique_ptr<dao::DBEngine> DaoEngineOver(void* dispatch);

// The engine of this machine: DaoEngineOver(CreateDaoDispatch()).
std::unique_ptr<dao::DBEngine> MakeDaoEngine();

}  // namespace tarnu::win32
