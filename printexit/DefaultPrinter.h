#pragma once

namespace pagetrap {

// Makes the printer recorded in "DefaultPrinter" the default again (an empty
// name when the value is missing) and deletes the value.
void RestoreDefaultPrinter();

}  // namespace pagetrap
