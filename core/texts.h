// Every text the program shows, in English and Russian, and the fixed texts that read the same in
// both: written once here, in UTF-8. Each edition turns the list into the text type of its own
// platform at compile time (the Windows edition into UTF-16 literals); the core itself uses the
// UTF-8 pairs below. Plain constants: nothing is loaded, translated or freed at run time, so any
// thread may pick a member once the language is fixed at start-up.
#pragma once

// PAIR(key, English, Russian) for every text that exists in both languages.
#define QUILLMERE_TEXT_PAIRS(PAIR)                                                                 \
    /* Main window labels, captions and the first status line. */                                  \
    PAIR(TextUrlLabel, "HTTPS link", "HTTPS-ссылка")                                               \
    PAIR(TextSaveAsLabel, "Save as", "Сохранить как")                                              \
    PAIR(TextBrowseButton, "Browse\u2026", "Выбрать\u2026")                                        \
    PAIR(TextDownloadButton, "Download", "Скачать")                                                \
    PAIR(TextCancelButton, "Cancel", "Отменить")                                                   \
    PAIR(TextReady, "Ready to download", "Готово к загрузке")                                      \
    PAIR(TextHistoryLabel, "Downloads this session: format and size",                              \
         "Загрузки за этот запуск: формат и размер")                                               \
    /* Commands. */                                                                                \
    PAIR(TextAllFilesFilter, "All files", "Все файлы")                                             \
    PAIR(TextEnterLinkAndTarget, "Enter a link and select where to save the file.",                \
         "Укажите ссылку и выберите место сохранения.")                                            \
    PAIR(TextCouldNotStart, "Could not start download.", "Не удалось начать загрузку.")            \
    PAIR(TextConnecting, "Connecting\u2026", "Подключение\u2026")                                  \
    PAIR(TextCancelling, "Cancelling\u2026", "Отмена\u2026")                                       \
    /* Given to Windows while a download runs, shown when logoff or shutdown waits for it. */      \
    PAIR(TextDownloadInProgress, "A download is in progress.", "Идёт загрузка.")                   \
    /* Progress and completion. */                                                                 \
    PAIR(TextReceivedPrefix, "Received: ", "Получено: ")                                           \
    PAIR(TextBytesUnit, " bytes", " байт")                                                         \
    PAIR(TextDownloadCompleted, "Download completed.", "Загрузка завершена.")                      \
    PAIR(TextDownloadCancelled, "Download cancelled.", "Загрузка отменена.")                       \
    PAIR(TextDownloadFailed, "Download failed.", "Ошибка загрузки.")                               \
    /* Download errors, picked by the worker on its own thread. */                                 \
    PAIR(TextEnterValidHttpsUrl, "Enter a valid HTTPS URL without a username or password.",        \
         "Укажите корректную HTTPS-ссылку без имени пользователя и пароля.")                       \
    PAIR(TextServerReturnedHttp, "Server returned HTTP ", "Сервер вернул HTTP ")                   \
    PAIR(TextInvalidContentLength, "Invalid Content-Length from server.",                          \
         "Некорректный размер файла в ответе сервера.")                                            \
    PAIR(TextSizeMismatch, "Received size does not match the server's Content-Length.",            \
         "Размер полученных данных не совпадает с размером, указанным сервером.")                  \
    /* Network failures a user meets, said in the program's own words in place of libcurl's        \
       English ones (Linux edition; the Windows edition shows the system's texts). */              \
    PAIR(TextHostNotFound, "Server not found. Check the link and the network connection.",         \
         "Сервер не найден. Проверьте ссылку и подключение к сети.")                               \
    PAIR(TextCouldNotConnect, "Could not connect to the server.",                                  \
         "Не удалось подключиться к серверу.")                                                     \
    PAIR(TextTimedOut, "The server did not respond in time.",                                      \
         "Время ожидания ответа сервера истекло.")                                                 \
    PAIR(TextCertificateUntrusted, "The server's certificate is not trusted.",                     \
         "Сертификат сервера не является доверенным.")                                             \
    PAIR(TextCertificateExpired, "The server's certificate has expired.",                          \
         "Срок действия сертификата сервера истёк.")                                               \
    PAIR(TextCertificateOtherSite, "The server's certificate was issued for a different site.",    \
         "Сертификат сервера выдан для другого сайта.")                                            \
    PAIR(TextSecureConnectionFailed,                                                               \
         "A secure connection to the server could not be established.",                            \
         "Не удалось установить защищённое соединение с сервером.")                                \
    PAIR(TextConnectionClosedEarly, "The connection was closed before the download was complete.", \
         "Соединение было разорвано до завершения загрузки.")                                      \
    PAIR(TextTooManyRedirects, "The server redirected the request too many times.",                \
         "Сервер перенаправил запрос слишком много раз.")                                          \
    PAIR(TextProxyNotFound, "Proxy server not found. Check the proxy settings.",                   \
         "Прокси-сервер не найден. Проверьте настройки прокси-сервера.")                           \
    PAIR(TextProxyRefused, "The proxy server refused the connection.",                             \
         "Прокси-сервер отклонил подключение.")                                                    \
    /* The session list's menu: each line stands for its file. */                                  \
    PAIR(TextOpenFile, "Open", "Открыть")                                                          \
    PAIR(TextShowInFolder, "Show in folder", "Показать в папке")                                   \
    /* Session list size buckets. */                                                               \
    PAIR(TextBucketUnder1Mib, "under 1 MiB", "меньше 1 МиБ")                                       \
    PAIR(TextBucket1To100Mib, "1\u2013100 MiB", "1\u2013100 МиБ")                                  \
    PAIR(TextBucket100MibAndOver, "100 MiB and over", "100 МиБ и больше")

// FIXED(key, text) for the texts that are the same in both languages.
#define QUILLMERE_FIXED_TEXTS(FIXED)                                                               \
    FIXED(TextAppTitle, "Quillmere")                                                               \
    FIXED(TextNoExtension, "(no extension)")                                                       \
    FIXED(TextErrorPrefix, "Error ")                                                               \
    FIXED(TextEntrySeparator, " \u00b7 ")                                                          \
    FIXED(TextNameSeparator, "  \u2014  ")                                                         \
    FIXED(TextProgressSeparator, " / ")

namespace core {

struct TextPair {
    const char* english;
    const char* russian;
};

inline const char* SelectText(const TextPair& pair, bool russian) {
    return russian ? pair.russian : pair.english;
}

#define QUILLMERE_UTF8_PAIR(key, english, russian) inline constexpr TextPair key{english, russian};
#define QUILLMERE_UTF8_FIXED(key, text) inline constexpr const char* key = text;
QUILLMERE_TEXT_PAIRS(QUILLMERE_UTF8_PAIR)
QUILLMERE_FIXED_TEXTS(QUILLMERE_UTF8_FIXED)
#undef QUILLMERE_UTF8_PAIR
#undef QUILLMERE_UTF8_FIXED

} // namespace core
