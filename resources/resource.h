// Resource identifiers shared by the resource script and the program.
#pragma once

#define IDI_APP 1
#define IDR_APP_ICO 2
