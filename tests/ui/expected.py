"""What a user must see in Quillmere's window, written out by hand for the tests: the controls
with their classes, ids, styles and geometry, and every text in English and Russian. Nothing here
is taken from the program's sources; a test that compared the window with the program's own
constants would prove nothing."""

# Window styles.
WS_OVERLAPPED = 0x00000000
WS_MAXIMIZEBOX = 0x00010000
WS_TABSTOP = 0x00010000
WS_MINIMIZEBOX = 0x00020000
WS_THICKFRAME = 0x00040000
WS_SYSMENU = 0x00080000
WS_HSCROLL = 0x00100000
WS_VSCROLL = 0x00200000
WS_CAPTION = 0x00C00000
WS_DISABLED = 0x08000000
WS_VISIBLE = 0x10000000
WS_CLIPSIBLINGS = 0x04000000
WS_CHILD = 0x40000000
WS_EX_WINDOWEDGE = 0x00000100
WS_EX_CLIENTEDGE = 0x00000200

MAIN_CLASS = "QuillmereMainWindow"
MAIN_TITLE = "Quillmere"
# WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, as created.
MAIN_STYLE = 0x00CA0000
MAIN_EXSTYLE = 0
# What the system adds to a shown overlapped window: WS_VISIBLE, WS_CLIPSIBLINGS (always set for
# top-level windows) and WS_EX_WINDOWEDGE (Wine adds it to a captioned window).
MAIN_STYLE_ADDED = WS_VISIBLE | WS_CLIPSIBLINGS
MAIN_EXSTYLE_ADDED = WS_EX_WINDOWEDGE
MAIN_OUTER_SIZE = (710, 455)

IDC_BROWSE = 100
IDC_DOWNLOAD = 101
IDC_CANCEL = 102

# Window messages' hit-test codes that would let the mouse resize the window (HTLEFT..HTBOTTOMRIGHT).
HT_SIZING = range(10, 18)
HTCAPTION = 2
HTMINBUTTON = 8
HTMAXBUTTON = 9
HTCLOSE = 20

# The ten controls in creation order: role, class, text key (None: empty), id, x, y, width,
# height, style, extended style. Class names compare without regard to case.
CONTROLS = [
    ("link label", "STATIC", "url_label", 0, 20, 18, 660, 20, 0x50000000, 0),
    ("URL edit", "EDIT", None, 0, 20, 40, 650, 27, 0x50010080, WS_EX_CLIENTEDGE),
    ("target label", "STATIC", "save_as_label", 0, 20, 80, 660, 20, 0x50000000, 0),
    ("target edit", "EDIT", None, 0, 20, 102, 525, 27, 0x50000880, WS_EX_CLIENTEDGE),
    ("Browse button", "BUTTON", "browse", 100, 555, 100, 115, 30, 0x50010000, 0),
    ("Download button", "BUTTON", "download", 101, 20, 146, 130, 33, 0x50010001, 0),
    ("Cancel button", "BUTTON", "cancel", 102, 160, 146, 130, 33, 0x58010000, 0),
    ("status line", "STATIC", "ready", 0, 20, 190, 650, 22, 0x50000000, 0),
    ("list label", "STATIC", "history_label", 0, 20, 225, 650, 20, 0x50000000, 0),
    ("session list", "LISTBOX", None, 0, 20, 248, 650, 150, 0x50300100, WS_EX_CLIENTEDGE),
]
# A list box shows its scroll bars only when needed: while it has nothing to scroll, its live
# style lacks these two bits.
LIST_SCROLL_BITS = WS_VSCROLL | WS_HSCROLL
LIST_INDEX = 9

# Every text, English and Russian. Escapes name the characters that matter: U+2026 ellipsis,
# U+2013 en dash, U+2014 em dash, U+00B7 middle dot.
TEXTS = {
    "url_label": ("HTTPS link", "HTTPS-ссылка"),
    "save_as_label": ("Save as", "Сохранить как"),
    "browse": ("Browse\u2026", "Выбрать\u2026"),
    "download": ("Download", "Скачать"),
    "cancel": ("Cancel", "Отменить"),
    "ready": ("Ready to download", "Готово к загрузке"),
    "history_label": ("Downloads this session: format and size",
                      "Загрузки за этот запуск: формат и размер"),
    "all_files": ("All files", "Все файлы"),
    "enter_link_and_target": ("Enter a link and select where to save the file.",
                              "Укажите ссылку и выберите место сохранения."),
    "could_not_start": ("Could not start download.", "Не удалось начать загрузку."),
    "connecting": ("Connecting\u2026", "Подключение\u2026"),
    "cancelling": ("Cancelling\u2026", "Отмена\u2026"),
    "download_in_progress": ("A download is in progress.", "Идёт загрузка."),
    "received_prefix": ("Received: ", "Получено: "),
    "bytes_unit": (" bytes", " байт"),
    "completed": ("Download completed.", "Загрузка завершена."),
    "cancelled": ("Download cancelled.", "Загрузка отменена."),
    "failed": ("Download failed.", "Ошибка загрузки."),
    "enter_valid_https_url": ("Enter a valid HTTPS URL without a username or password.",
                              "Укажите корректную HTTPS-ссылку без имени пользователя и пароля."),
    "server_returned_http": ("Server returned HTTP ", "Сервер вернул HTTP "),
    "invalid_content_length": ("Invalid Content-Length from server.",
                               "Некорректный размер файла в ответе сервера."),
    "size_mismatch": ("Received size does not match the server's Content-Length.",
                      "Размер полученных данных не совпадает с размером, указанным сервером."),
    "bucket_under_1": ("under 1 MiB", "меньше 1 МиБ"),
    "bucket_1_to_100": ("1\u2013100 MiB", "1\u2013100 МиБ"),
    "bucket_100_up": ("100 MiB and over", "100 МиБ и больше"),
    "open_file": ("Open", "Открыть"),
    "show_in_folder": ("Show in folder", "Показать в папке"),
}

APP_TITLE = "Quillmere"
NO_EXTENSION = "(no extension)"
ENTRY_SEPARATOR = " \u00b7 "
NAME_SEPARATOR = "  \u2014  "
PROGRESS_SEPARATOR = " / "

MB_ICON_INFORMATION = "information"
MB_ICON_ERROR = "error"


def text(key, lang):
    english, russian = TEXTS[key]
    return russian if lang == "ru" else english


def progress_text(lang, received, total=None):
    middle = str(received) if total is None else "%d%s%d" % (received, PROGRESS_SEPARATOR, total)
    return text("received_prefix", lang) + middle + text("bytes_unit", lang)


def list_line(file_name, extension, size, lang):
    """A session list line, built the way a user reads it: name, separator, format, bucket, size."""
    if size < 1048576:
        bucket = text("bucket_under_1", lang)
    elif size < 104857600:
        bucket = text("bucket_1_to_100", lang)
    else:
        bucket = text("bucket_100_up", lang)
    return (file_name + NAME_SEPARATOR + extension + ENTRY_SEPARATOR + bucket + ENTRY_SEPARATOR
            + str(size) + text("bytes_unit", lang))
