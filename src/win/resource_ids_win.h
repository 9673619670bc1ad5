#pragma once

// Resource and control ids of the native window beside those of the main dialog's
// template (presenter/control_ids.h), shared by the resource script and the code.
#define ZARVIK_IDD_ABOUT 100
#define ZARVIK_IDD_MAIN 102
#define ZARVIK_IDR_ICON 128
#define ZARVIK_IDR_BROWSE 131
#define ZARVIK_IDR_MENU 132
#define ZARVIK_IDD_HELP 133
// «Стоп» (ids::kStop): not in the original template; it sits beside «Выход» and never moves.
#define ZARVIK_IDC_STOP 1079
// "Сброс по DTR" (ids::kResetDtr): below «Соединить», in the room the template left
// between it and the loader's group; no control moved for it.
#define ZARVIK_IDC_RESET_DTR 1080
// The About box's three lines, filled in the user's language.
#define ZARVIK_IDC_ABOUT_NAME 1101
#define ZARVIK_IDC_ABOUT_VERSION 1102
#define ZARVIK_IDC_ABOUT_DATE 1103
