#pragma once

// Resource and control ids of the native window beside those of the main dialog's
// template (app/control_ids.h), shared by the resource script and the code.
#define ZARVIK_IDD_ABOUT 100
#define ZARVIK_IDD_MAIN 102
#define ZARVIK_IDR_ICON 128
#define ZARVIK_IDR_BROWSE 131
#define ZARVIK_IDR_MENU 132
#define ZARVIK_IDD_HELP 133
// «Стоп»: not in the original template; it sits beside «Выход» and never moves.
#define ZARVIK_IDC_STOP 1079
