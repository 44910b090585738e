// Every text the program shows, in English and Russian, and the fixed texts that read the same in
// both. Plain constants: nothing here is loaded, translated or freed at run time. Any thread may
// pick a member, since the language is fixed before the first window exists.
#pragma once

struct TextPair {
    const wchar_t* english;
    const wchar_t* russian;
};

inline const wchar_t* SelectText(const TextPair& pair, bool russian) {
    return russian ? pair.russian : pair.english;
}

// Main window labels, captions and the first status line.
inline constexpr TextPair TextUrlLabel{L"HTTPS link", L"HTTPS-ссылка"};
inline constexpr TextPair TextSaveAsLabel{L"Save as", L"Сохранить как"};
inline constexpr TextPair TextBrowseButton{L"Browse\u2026", L"Выбрать\u2026"};
inline constexpr TextPair TextDownloadButton{L"Download", L"Скачать"};
inline constexpr TextPair TextCancelButton{L"Cancel", L"Отменить"};
inline constexpr TextPair TextReady{L"Ready to download", L"Готово к загрузке"};
inline constexpr TextPair TextHistoryLabel{L"Downloads this session: format and size",
                                           L"Загрузки за этот запуск: формат и размер"};

// Commands.
inline constexpr TextPair TextAllFilesFilter{L"All files", L"Все файлы"};
inline constexpr TextPair TextEnterLinkAndTarget{L"Enter a link and select where to save the file.",
                                                 L"Укажите ссылку и выберите место сохранения."};
inline constexpr TextPair TextCouldNotStart{L"Could not start download.",
                                            L"Не удалось начать загрузку."};
inline constexpr TextPair TextConnecting{L"Connecting\u2026", L"Подключение\u2026"};
inline constexpr TextPair TextCancelling{L"Cancelling\u2026", L"Отмена\u2026"};
// Given to Windows while a download runs, shown when logoff or shutdown waits for the program.
inline constexpr TextPair TextDownloadInProgress{L"A download is in progress.", L"Идёт загрузка."};

// Progress and completion.
inline constexpr TextPair TextReceivedPrefix{L"Received: ", L"Получено: "};
inline constexpr TextPair TextBytesUnit{L" bytes", L" байт"};
inline constexpr TextPair TextDownloadCompleted{L"Download completed.", L"Загрузка завершена."};
inline constexpr TextPair TextDownloadCancelled{L"Download cancelled.", L"Загрузка отменена."};
inline constexpr TextPair TextDownloadFailed{L"Download failed.", L"Ошибка загрузки."};

// Download errors, picked by the worker on its own thread.
inline constexpr TextPair TextEnterValidHttpsUrl{
    L"Enter a valid HTTPS URL without a username or password.",
    L"Укажите корректную HTTPS-ссылку без имени пользователя и пароля."};
inline constexpr TextPair TextServerReturnedHttp{L"Server returned HTTP ", L"Сервер вернул HTTP "};
inline constexpr TextPair TextInvalidContentLength{L"Invalid Content-Length from server.",
                                                   L"Некорректный размер файла в ответе сервера."};
inline constexpr TextPair TextSizeMismatch{
    L"Received size does not match the server's Content-Length.",
    L"Размер полученных данных не совпадает с размером, указанным сервером."};

// Session list size buckets.
inline constexpr TextPair TextBucketUnder1Mib{L"under 1 MiB", L"меньше 1 МиБ"};
inline constexpr TextPair TextBucket1To100Mib{L"1\u2013100 MiB", L"1\u2013100 МиБ"};
inline constexpr TextPair TextBucket100MibAndOver{L"100 MiB and over", L"100 МиБ и больше"};

// Fixed texts: the same in both languages.
inline constexpr const wchar_t* TextAppTitle = L"Quillmere";
inline constexpr const wchar_t* TextNoExtension = L"(no extension)";
inline constexpr const wchar_t* TextErrorPrefix = L"Error ";
inline constexpr const wchar_t* TextEntrySeparator = L" \u00b7 ";
inline constexpr const wchar_t* TextNameSeparator = L"  \u2014  ";
inline constexpr const wchar_t* TextProgressSeparator = L" / ";
