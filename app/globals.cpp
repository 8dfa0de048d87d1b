#include "app/globals.h"

#include <new>

AppGlobalsRecord AppGlobals;

void ResetAppGlobals() {
  AppGlobals.~AppGlobalsRecord();
  new (&AppGlobals) AppGlobalsRecord();
}
