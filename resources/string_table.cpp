// The string table. The user-facing texts of the program come from the
// language file; these few belong to the program itself and are not
// translated: its name and the soft-key captions.
#include "platform/resource_formats.h"
#include "resources/resources.h"

namespace {

const STRINGRESOURCE kAppName{u"Vantrel"};
const STRINGRESOURCE kQuit{u"Quit"};
const STRINGRESOURCE kOptions{u"Options"};
const STRINGRESOURCE kDone{u"Done"};
const STRINGRESOURCE kMore{u"More"};

} // namespace

void RegisterStringTable() {
  RegisterResource(RT_STRING, kStringAppName, &kAppName, sizeof kAppName);
  RegisterResource(RT_STRING, kStringQuit, &kQuit, sizeof kQuit);
  RegisterResource(RT_STRING, kStringOptions, &kOptions, sizeof kOptions);
  RegisterResource(RT_STRING, kStringDone, &kDone, sizeof kDone);
  RegisterResource(RT_STRING, kStringMore, &kMore, sizeof kMore);
}
