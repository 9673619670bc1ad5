#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>

#include "programmer/outcome.h"
#include "text/language.h"

namespace zarvik::window_text {

// The window's own texts, in the "window" context; both windows show them through the
// presenter. %1, %2, ... are filled in by `fill`.
inline constexpr const char* kProgramName = "Zarvik";
inline constexpr const char* kPortOpened = ZARVIK_TEXT("window", "Открыт порт %1. Выберите скорость");
inline constexpr const char* kPortNotOpened = ZARVIK_TEXT("window", "Не удалось открыть порт %1");
inline constexpr const char* kSpeedSet = ZARVIK_TEXT("window", "Установлена скорость %1 бод");
inline constexpr const char* kSpeedRefused = ZARVIK_TEXT("window", "Порт не принял скорость %1 бод");
inline constexpr const char* kModelDetected =
    ZARVIK_TEXT("window", "Подключён %1 (загрузчик с адреса %2): в списке МК выбран %3");
inline constexpr const char* kStartNotSent = ZARVIK_TEXT("window", "Не удалось отправить команду запуска программы");
inline constexpr const char* kProgramRunning = ZARVIK_TEXT("window", "Работает программа платы, загрузчик не на связи");
inline constexpr const char* kLoaderSilent = ZARVIK_TEXT("window", "Загрузчик перестал отвечать");
// Why Connect got no answer, as far as the window can tell: the two usual causes.
inline constexpr const char* kNoAnswerAtSpeed = ZARVIK_TEXT(
    "window", "Загрузчик не ответил на скорости %1 бод. Скорее всего, он работает на другой скорости или его время ожидания после сброса уже истекло: сбросьте плату и сразу нажмите «Соединить»");
inline constexpr const char* kNoAnswerAfterDtr = ZARVIK_TEXT(
    "window", "Загрузчик не ответил на скорости %1 бод после сброса по DTR. Скорее всего, он работает на другой скорости или плата не сбрасывается по DTR: тогда сбросьте её кнопкой и сразу нажмите «Соединить»");
// An operation whose exchange the loader did not answer: what to do, not the command.
inline constexpr const char* kNoAnswerDuring =
    ZARVIK_TEXT("window", "Загрузчик не ответил при %1. Сбросьте плату и нажмите «Соединить»");
inline constexpr const char* kResetAdvice = ZARVIK_TEXT("window", "Сбросьте плату и нажмите «Соединить»");
inline constexpr const char* kResetDtrTip = ZARVIK_TEXT(
    "window", "Перед соединением сбросить плату импульсом на линии DTR: так сбрасывается большинство плат с USB-адаптером. Загрузчик ждёт соединения только после сброса");
inline constexpr const char* kDtrNotPulsed = ZARVIK_TEXT("window", "Порт не управляет линией DTR: плата не сброшена");
inline constexpr const char* kRememberedPortMissing = ZARVIK_TEXT("window", "Порт %1, выбранный в прошлый раз, не найден");
// What the connected board's loader holds: ours names its clock, any other only its count.
inline constexpr const char* kBoardLoaderSettings = ZARVIK_TEXT("window", "Загрузчик платы: %1 МГц, ожидание %2 с");
inline constexpr const char* kBoardLoaderCount = ZARVIK_TEXT("window", "Загрузчик платы: счётчик ожидания %1");
inline constexpr const char* kSettingsUnreadable =
    ZARVIK_TEXT("window", "Не удалось прочитать файл %1 (%2): он оставлен как есть, действуют значения 8 и 5");
inline constexpr const char* kSettingsNotSaved = ZARVIK_TEXT("window", "Не удалось сохранить настройки в файл %1: %2");
inline constexpr const char* kAskShortWait = ZARVIK_TEXT("window", "Записать такое время ожидания всё же?");
inline constexpr const char* kAskUnconfirmed = ZARVIK_TEXT(
    "window", "Если на плате загрузчик с другим первым блоком, можно продолжить без проверки. Продолжить?");
inline constexpr const char* kAskUnusualClock =
    ZARVIK_TEXT("window", "Записать настройку для такой частоты всё же?");
inline constexpr const char* kAskStopAndClose =
    ZARVIK_TEXT("window", "Операция ещё не закончена. Прервать её и закрыть окно?");
inline constexpr const char* kCannotCloseNow =
    ZARVIK_TEXT("window", "Сейчас записывается первый блок загрузчика. Прервать запись нельзя: плата осталась бы без загрузчика. Окно можно будет закрыть, когда запись закончится.");
inline constexpr const char* kAskReplace = ZARVIK_TEXT("window", "Файл %1 уже существует. Заменить его?");
inline constexpr const char* kFlashFiles = ZARVIK_TEXT("window", "Файлы программной памяти flash");
inline constexpr const char* kEepromFiles = ZARVIK_TEXT("window", "Файлы памяти данных EEPROM");
inline constexpr const char* kAllFiles = ZARVIK_TEXT("window", "Все файлы");
inline constexpr const char* kHelpMissing = ZARVIK_TEXT("window", "В папке программы отсутствует файл \"%1\"");
inline constexpr const char* kHelpTitle = ZARVIK_TEXT("window", "Помощь");
inline constexpr const char* kAboutTitle = ZARVIK_TEXT("window", "О программе");
inline constexpr const char* kAboutName = ZARVIK_TEXT("window", "Загрузчик (Zarvik)");
inline constexpr const char* kAboutVersion = ZARVIK_TEXT("window", "Версия 1.0 полная");
inline constexpr const char* kAboutDate = "01.04.2024";
inline constexpr const char* kLongestWait =
    ZARVIK_TEXT("window", "При частоте %1 МГц время ожидания может быть не больше %2 с.");
// A verify that found differences: which memory, and how many bytes, in the plural
// form the count takes.
inline constexpr const char* kDiffersOne = ZARVIK_TEXT("window", "%1 отличается от файла в %2 байте. ");
inline constexpr const char* kDiffersFew = ZARVIK_TEXT("window", "%1 отличается от файла в %2 байтах. ");
inline constexpr const char* kDiffersMany = ZARVIK_TEXT("window", "%1 отличается от файла в %2 байтах. ");

// `text` in the current language with %1, %2, ... replaced by `values`, in order.
std::string fill(const char* text, std::initializer_list<std::string_view> values);

// The core's text about an operation, with what the window adds: the longest wait a
// refused one could have been, and which memory differs in how many bytes (the plural
// form the count takes).
std::string operation_text(const OperationOutcome& outcome);

// What a file path field shows, for the view to call with its own measure: the whole
// path when `fits` takes it, otherwise an ellipsis and as much of the path's end as
// fits, whole characters, so that the field is filled (the whole path is the field's
// tooltip). A field too narrow even for the ellipsis shows it alone.
std::string fitted_path(const std::string& path, const std::function<bool(const std::string&)>& fits);

}  // namespace zarvik::window_text

namespace zarvik {

class ControlView;

// The texts the presenters last gave the window's controls, so that what the window
// shows can be read back (MainPresenter::text) and a repeated text is not sent again.
class ShownTexts {
public:
    explicit ShownTexts(ControlView& view) : view_(view) {}
    void show(int id, const std::string& text);
    const std::string& of(int id) const;

private:
    ControlView& view_;
    std::map<int, std::string> texts_;
};

}  // namespace zarvik
