// The program's version, as the user agent, the version check and the About page name it.
#pragma once

#define PROGRAM_VERSION L"v1.01.15.06007"
