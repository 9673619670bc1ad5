// zarvik-cli as a build script runs it: a subprocess, against zarvik-sim on a
// pseudo-terminal.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <csignal>

#include "serial/serial_port.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

CliRun cli(const QStringList& args, const QString& ports = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZARVIK_SERIAL_PORTS", ports);  // never the machine's own ports
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ZARVIK_CLI_BINARY), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

QStringList on(const testing::SimProcess& sim, QStringList args) {
    return QStringList{"-p", sim.path(), "-m", "ATmega8"} + args;
}

TEST(Cli, EveryCommandAgainstTheSimulatedBoard) {
    testing::TempDir dir;
    const std::string dump = dir.file("flash.hex");
    testing::SimProcess sim({"--model", "ATmega8", "--dump-flash", QString::fromStdString(dump)});
    ASSERT_FALSE(sim.path().isEmpty());

    const CliRun ports = cli({"ports"}, sim.path());
    EXPECT_EQ(ports.code, 0);
    EXPECT_EQ(ports.out, sim.path_string() + "\n");
    EXPECT_NE(ports.err.find("Доступно 1 COM порт"), std::string::npos);

    const CliRun connect = cli(on(sim, {"--reset", "dtr", "connect"}));
    EXPECT_EQ(connect.code, 0) << connect.err;
    EXPECT_EQ(connect.out, "Соединение установлено успешно!\n");
    EXPECT_NE(connect.err.find("DTR"), std::string::npos);  // a terminal without modem lines: a warning only

    const CliRun chain = cli(on(sim, {"erase", "flash", "write", "flash", ZARVIK_BLINK_HEX}));
    EXPECT_EQ(chain.code, 0) << chain.err;
    EXPECT_NE(chain.out.find("Стирание flash закончено!  Время стирания: "), std::string::npos) << chain.out;
    EXPECT_NE(chain.out.find("Запись flash закончена!  Время записи: "), std::string::npos);
    EXPECT_NE(chain.out.find("flash записан правильно!"), std::string::npos);  // the verify after write

    const std::string read_back = dir.file("back.hex");
    const CliRun rest = cli(on(sim, {"verify", "flash", ZARVIK_BLINK_HEX, "read", "flash", QString::fromStdString(read_back),
                                  "write", "eeprom", ZARVIK_BLINK_EEP, "--no-verify", "configure", "16", "2", "start"}));
    EXPECT_EQ(rest.code, 0) << rest.err;
    EXPECT_NE(rest.out.find("Чтение flash закончено!"), std::string::npos);
    EXPECT_EQ(rest.out.find("EEPROM записан правильно!"), std::string::npos);  // --no-verify
    EXPECT_NE(rest.out.find("Настройка загрузчика выполнена на частоту 16 МГц и 2 секунд"), std::string::npos);
    EXPECT_NE(rest.out.find("Программа запущена"), std::string::npos);
    EXPECT_EQ(testing::read_file(read_back).rfind(":10000000", 0), 0u);

    ASSERT_EQ(sim.stop(), 0);
    EXPECT_EQ(testing::read_file(read_back).substr(0, 200), testing::read_file(dump).substr(0, 200));
}

TEST(Cli, ExitCodes) {
    testing::TempDir dir;
    testing::SimProcess sim({"--model", "ATmega8"});
    testing::SimProcess silent({"--silent"});
    const std::string damaged = dir.write("bad.hex", ":0100000011FF\r\n");
    struct Case { const char* what; QStringList args; int code; const char* says; };
    const Case cases[] = {
        {"differences", on(sim, {"verify", "flash", ZARVIK_BLINK_HEX}), 1, "Ошибка по адресу: 0000 "},
        {"unknown command", {"frobnicate"}, 2, "unknown command"},
        {"speed not in the list", {"-b", "12345", "--simulate", "connect"}, 2, "12345"},
        {"no port", {"connect"}, 2, "--port"},
        {"wait count too large", {"--simulate", "configure", "16", "13"}, 2, "слишком большое время"},
        {"no loader answers", {"-p", silent.path(), "erase", "flash"}, 3, "Соединение не удалось установить"},
        {"port that does not exist", {"-p", "/dev/zarvik-none", "connect"}, 3, "Не удалось открыть порт"},
        {"damaged file", on(sim, {"write", "flash", QString::fromStdString(damaged)}), 4, "строка 1"},
        {"missing file", on(sim, {"verify", "eeprom", QString::fromStdString(dir.file("none.eep"))}), 4, "none.eep"},
        {"export not written", on(sim, {"read", "eeprom", QString::fromStdString(dir.file("no/dir.eep"))}), 4,
         "Не удалось записать файл"},
    };
    for (const Case& c : cases) {
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, c.code) << c.what << "\n" << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << c.what << "\n" << r.out << r.err;
    }
}

TEST(Cli, JsonLinesParseBack) {
    testing::SimProcess sim({"--model", "ATmega8"});
    const CliRun r = cli(on(sim, {"--json", "write", "eeprom", ZARVIK_BLINK_EEP}));
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<QJsonObject> results;
    int progress = 0;
    for (const QByteArray& line : QByteArray::fromStdString(r.out).split('\n')) {
        if (line.isEmpty()) continue;
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        const QJsonObject o = doc.object();
        if (o["event"] == "progress") ++progress;
        if (o["event"] == "result") results.push_back(o);
    }
    EXPECT_GT(progress, 1);
    ASSERT_EQ(results.size(), 3u);  // the handshake, the write, then its verify
    EXPECT_EQ(results[0]["operation"], "connect");
    results.erase(results.begin());
    EXPECT_EQ(results[0]["operation"], "write");
    EXPECT_EQ(results[0]["outcome"], "success");
    EXPECT_EQ(results[0]["memory"], "eeprom");
    EXPECT_GT(results[0]["bytes"].toInt(), 0);
    EXPECT_GE(results[0]["milliseconds"].toInt(), results[0]["bytes"].toInt() * 9);
    EXPECT_EQ(results[1]["operation"], "verify");

    const CliRun diff = cli(on(sim, {"--json", "verify", "flash", ZARVIK_BLINK_HEX}));
    EXPECT_EQ(diff.code, 1);
    const QJsonObject last =
        QJsonDocument::fromJson(QByteArray::fromStdString(diff.out).trimmed().split('\n').last()).object();
    EXPECT_EQ(last["outcome"], "differences");
    const QJsonObject first = last["differences"].toArray().first().toObject();
    EXPECT_EQ(first["address"].toInt(), 0);
    EXPECT_EQ(first["found"].toInt(), 0xFF);
}

TEST(Cli, InterruptRestoresAndClosesThePort) {
    testing::SimProcess sim({"--model", "ATmega8"});
    QProcess p;
    p.start(QStringLiteral(ZARVIK_CLI_BINARY), on(sim, {"--json", "erase", "eeprom"}));
    ASSERT_TRUE(p.waitForStarted());
    while (!p.readAllStandardOutput().contains("progress") && p.state() == QProcess::Running) p.waitForReadyRead(100);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 130);
    SteadyClock clock;
    SerialPort again(clock);
    EXPECT_TRUE(again.open(sim.path_string()));  // closed and unlocked
}

}  // namespace
}  // namespace zarvik
