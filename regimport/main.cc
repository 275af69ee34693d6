#include "platform/platform.h"
#include "regimport/brixparse.h"

// The script is parsed completely before the registry is touched, and it is
// closed only after the parser and its key list are gone.
int plat::AppMain(plat::Module* /*instance*/, const char16_t* commandLine) {
  using namespace brixparse;
  CScriptFile script;
  script.Open(commandLine);
  {
    CBrixparse parser(script);
    CKeyNode* keys = parser.ParseFile();
    parser.UpdateRegistry(keys);
  }
  script.Close();
  return 0;
}
