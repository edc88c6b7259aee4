// The base set-up of format readers.
#pragma once

namespace core {

int FormatSetUp(void* object);
void FormatTearDown(void* object);

}  // namespace core
