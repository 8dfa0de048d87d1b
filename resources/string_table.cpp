// The string table: the program's name and the soft-key captions, in
// English; the menu bar shows the captions in the person's language
// through the UI strings that translate them (UiResourceText).
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
