#include "icq/ICQLang.h"

#include <array>
#include <string_view>

namespace icq {
namespace {

using TMessages = std::array<std::string_view, 25>;

constexpr TMessages kEnglish = {
    "Length of incoming packet exceeds maximum supported by protocol",
    "Could not initialize connection through HTTP proxy, please retry",
    "Received malformed packet",
    "Could not add user for sending/receiving files",
    "Received malformed login packet",
    "Bad password",
    "Too often logins",
    "Cannot establish direct connection because remote client uses unknown proxy type",
    "Connection timed out",
    "Could not send data",
    "Could not resolve host",
    "Could not connect",
    "Could not receive data",
    "Could not create stream socket",
    "SOCKS4 server cannot connect to remote server",
    "Auth methods are not supported by SOCKS5 server",
    "SOCKS5 server cannot authenticate",
    "SOCKS5 server cannot connect to remote server",
    "Http proxy returned invalid status: ",
    "Http proxy buffer overflow",
    "Could not accept incoming client",
    "Could not bind server",
    "Could not listen incoming connections",
    "Could not open database files",
    "Dat version not supported",
};

constexpr TMessages kRussian = {
    "Длина входящего пакета превышает максимум, допустимый протоколом",
    "Не удалось установить соединение через HTTP-прокси, попробуйте ещё раз",
    "Получен повреждённый пакет",
    "Не удалось добавить пользователя для отправки и получения файлов",
    "Получен повреждённый пакет входа",
    "Неверный пароль",
    "Слишком частые входы в систему",
    "Невозможно установить прямое соединение: удалённый клиент использует неизвестный тип прокси",
    "Время ожидания соединения истекло",
    "Не удалось отправить данные",
    "Не удалось определить адрес узла",
    "Не удалось подключиться",
    "Не удалось получить данные",
    "Не удалось создать потоковый сокет",
    "Сервер SOCKS4 не может подключиться к удалённому серверу",
    "Сервер SOCKS5 не поддерживает методы аутентификации",
    "Сервер SOCKS5 не может выполнить аутентификацию",
    "Сервер SOCKS5 не может подключиться к удалённому серверу",
    "HTTP-прокси вернул неверный статус: ",
    "Переполнение буфера HTTP-прокси",
    "Не удалось принять входящего клиента",
    "Не удалось привязать сервер к порту",
    "Не удалось начать ожидание входящих соединений",
    "Не удалось открыть файлы базы данных",
    "Версия файла .dat не поддерживается",
};

constexpr TMessages kHungarian = {
    "A bejövő csomag hossza meghaladja a protokoll által támogatott maximumot",
    "Nem sikerült kapcsolatot létesíteni a HTTP proxyn keresztül, kérjük, próbálja újra",
    "Hibás csomag érkezett",
    "Nem sikerült felvenni a felhasználót fájlok küldéséhez/fogadásához",
    "Hibás bejelentkezési csomag érkezett",
    "Hibás jelszó",
    "Túl gyakori bejelentkezések",
    "Nem hozható létre közvetlen kapcsolat, mert a távoli kliens ismeretlen proxytípust használ",
    "A kapcsolat túllépte az időkorlátot",
    "Nem sikerült elküldeni az adatokat",
    "Nem sikerült feloldani a gépnevet",
    "Nem sikerült kapcsolódni",
    "Nem sikerült fogadni az adatokat",
    "Nem sikerült stream socketet létrehozni",
    "A SOCKS4 szerver nem tud kapcsolódni a távoli szerverhez",
    "A SOCKS5 szerver nem támogatja a hitelesítési módszereket",
    "A SOCKS5 szerver nem tud hitelesíteni",
    "A SOCKS5 szerver nem tud kapcsolódni a távoli szerverhez",
    "A HTTP proxy érvénytelen állapotot adott vissza: ",
    "A HTTP proxy puffere túlcsordult",
    "Nem sikerült fogadni a bejövő klienst",
    "Nem sikerült a szervert porthoz kötni",
    "Nem sikerült figyelni a bejövő kapcsolatokat",
    "Nem sikerült megnyitni az adatbázisfájlokat",
    "A dat verzió nem támogatott",
};

constexpr TMessages kNorwegian = {
    "Størrelsen på en innkommende datapakke overskrider maksimum størrelse støttet av protokollen",
    "Kunne ikke opprette forbindelse gjennom HTTP-proxy, vennligst prøv igjen",
    "Mottok en ugyldig datapakke",
    "Kunne ikke legge til bruker for sending/mottak av filer",
    "Mottok en ugyldig innloggingspakke",
    "Feil passord",
    "For hyppige innlogginger",
    "Kan ikke opprette direkte forbindelse fordi den andre klienten bruker en ukjent proxytype",
    "Tidsavbrudd for forbindelsen",
    "Kunne ikke sende data",
    "Kunne ikke slå opp vertsnavnet",
    "Kunne ikke koble til",
    "Kunne ikke motta data",
    "Kunne ikke opprette strømsocket",
    "SOCKS4-serveren kan ikke koble til den eksterne serveren",
    "Autentiseringsmetodene støttes ikke av SOCKS5-serveren",
    "SOCKS5-serveren kan ikke autentisere",
    "SOCKS5-serveren kan ikke koble til den eksterne serveren",
    "HTTP-proxyen returnerte ugyldig status: ",
    "Bufferoverflyt i HTTP-proxyen",
    "Kunne ikke godta innkommende klient",
    "Kunne ikke binde serveren",
    "Kunne ikke lytte etter innkommende forbindelser",
    "Kunne ikke åpne databasefilene",
    "Dat-versjonen støttes ikke",
};

constexpr TMessages kGerman = {
    "Die Länge der eingehenden Packete überschreitet das maximum des Protokolls",
    "Verbindung konnte nicht über den Proxy hergestellt werden, bitte nochmal versuchen",
    "Fehlerhaftes Paket empfangen",
    "Benutzer für das Senden/Empfangen von Dateien konnte nicht hinzugefügt werden",
    "Fehlerhaftes Anmeldepaket empfangen",
    "Falsches Passwort",
    "Zu häufige Anmeldungen",
    "Direkte Verbindung nicht möglich, da der entfernte Client einen unbekannten Proxytyp verwendet",
    "Zeitüberschreitung der Verbindung",
    "Daten konnten nicht gesendet werden",
    "Hostname konnte nicht aufgelöst werden",
    "Verbindung konnte nicht hergestellt werden",
    "Daten konnten nicht empfangen werden",
    "Stream-Socket konnte nicht erstellt werden",
    "SOCKS4-Server kann keine Verbindung zum entfernten Server herstellen",
    "Die Authentifizierungsmethoden werden vom SOCKS5-Server nicht unterstützt",
    "SOCKS5-Server kann nicht authentifizieren",
    "SOCKS5-Server kann keine Verbindung zum entfernten Server herstellen",
    "HTTP-Proxy lieferte einen ungültigen Status: ",
    "Pufferüberlauf im HTTP-Proxy",
    "Eingehender Client konnte nicht angenommen werden",
    "Server konnte nicht gebunden werden",
    "Auf eingehende Verbindungen konnte nicht gewartet werden",
    "Datenbankdateien konnten nicht geöffnet werden",
    "Dat-Version wird nicht unterstützt",
};

std::string Message(const TMessages& texts, std::uint32_t number) {
  if (number < 1 || number > texts.size()) return {};
  return std::string(texts[number - 1]);
}

}  // namespace

std::string LangEn(std::uint32_t number) {
  return Message(kEnglish, number);
}
std::string LangRu(std::uint32_t number) {
  return Message(kRussian, number);
}
std::string LangHu(std::uint32_t number) {
  return Message(kHungarian, number);
}
std::string LangNo(std::uint32_t number) {
  return Message(kNorwegian, number);
}
std::string LangDe(std::uint32_t number) {
  return Message(kGerman, number);
}

const TICQLangEntry ICQLanguages[5] = {
    {LANG_EN, LangEn}, {LANG_RU, LangRu}, {LANG_HU, LangHu}, {LANG_NO, LangNo}, {LANG_DE, LangDe}};

std::string ICQLangText(TICQLangType lang, std::uint32_t number) {
  const auto index = static_cast<int>(lang);
  return ICQLanguages[index >= LANG_EN && index <= LANG_DE ? index : LANG_EN].Func(number);
}

}  // namespace icq
