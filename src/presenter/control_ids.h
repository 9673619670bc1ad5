#pragma once

namespace zarvik::ids {

// The numeric ids of the dialog templates; the presenter, both windows and their tests
// name controls by these.
enum : int {
    kConnect = 1,
    kExit = 2,
    kStartProgram = 3,
    kPortList = 1000,
    kModelList = 1001,
    kSpeedList = 1010,
    kConnectionLine = 1012,
    kStatusLine = 1013,
    kFlashWrite = 1024,
    kFlashVerify = 1025,
    kFlashRead = 1026,
    kEepromWrite = 1044,
    kEepromVerify = 1045,
    kEepromRead = 1046,
    kFlashPath = 1047,
    kEepromPath = 1048,
    kFlashBrowse = 1049,
    kEepromBrowse = 1050,
    kFlashProgress = 1051,
    kEepromProgress = 1060,
    kFlashErase = 1074,
    kEepromErase = 1075,
    kFosc = 1076,
    kTimeout = 1077,
    kConfigureLoader = 1078,
    // «Стоп»: ends an operation after the exchange under way. Not in the original
    // template; the id follows its last control.
    kStop = 1079,
    // "Сброс по DTR": Connect first resets the board through DTR. Not in the original
    // template either; it sits below «Соединить», where the template left room.
    kResetDtr = 1080,
    kHelpText = 1006,
    kHelpCommand = 57670,
    kAboutCommand = 57664,
};

}  // namespace zarvik::ids
