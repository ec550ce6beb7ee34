#include "app/Form1.h"

#include "app/ErrorTrap.h"
#include "app/Helpers.h"
#include "app/Logging.h"
#include "app/VbConvert.h"
#include "schedule/Choices.h"
#include "startup/mStartUp.h"
#include "tray/QuilloryIcon.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QStyle>
#include <QTimeEdit>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace camwarden {
namespace {

// Pixels kept free beside the window's frame, on a small screen.
constexpr int kFrameSlack = 4;

struct Twips {
    int left, top, width, height;
};

// Makes a control owned by its container, laid out in twips (15 to a pixel).
template <typename T, typename Parent>
T* Make(Parent* parent, const char* name, const char* caption, Twips at) {
    auto* w = new T(parent);
    w->setObjectName(QLatin1String(name));
    if constexpr (std::is_same_v<T, QGroupBox>) {
        w->setTitle(QString::fromUtf8(caption));
    } else if constexpr (requires { w->setText(QString()); }) {
        w->setText(QString::fromUtf8(caption));
    }
    auto px = [](int twips) { return (twips + 7) / 15; };
    w->setGeometry(px(at.left), px(at.top), px(at.width), px(at.height));
    return w;
}

QFont ArialBold(double points) {
    // Where Arial is missing (Wine's own prefix, a Linux without it), a font
    // of the same widths and height keeps every caption whole and every box
    // filled; Tahoma, which Wine brings, is the nearest after those.
    static const bool substituted = [] {
        QFont::insertSubstitutions(
            QStringLiteral("Arial"),
            {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Tahoma")});
        return true;
    }();
    Q_UNUSED(substituted);
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(points);
    f.setBold(true);
    // Plain Latin captions need no shaping engine, and the window has always
    // drawn them unkerned; shaping the countdown anew every second was most
    // of what the waiting window cost.
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

// The stored choices start-up restores. All are read before anything is
// written: QSettings writes the whole file back in its own form, and a
// hand-edited value read after that would no longer be the one typed.
struct StoredChoices {
    std::optional<QString> path;  // none: the desktop folder
    QString interval;
    QString length;
    QString clipSeconds;
    QString startStop;
    QString logOnStart;
    QString startInTray;
    QString sizeLimit;
    QString sizeLimitGB;
    QString ageLimit;
    QString ageLimitDays;
    QString activeHours;
    QString activeFrom;
    QString activeTo;
    QString activeDays;
    QString timeStamp;
};

StoredChoices ReadStoredChoices(SettingsStore& settings) {
    StoredChoices c;
    if (settings.Contains(QStringLiteral("Path")))
        c.path = settings.Read(QStringLiteral("Path"), QString());
    c.interval = settings.Read(QStringLiteral("OftenIndex"), QStringLiteral("2"));
    c.length = settings.Read(QStringLiteral("OftenIndex1"), QStringLiteral("1"));
    c.clipSeconds = settings.Read(QStringLiteral("ReturnSecondsRec"), QStringLiteral("5"));
    c.startStop = settings.Read(QStringLiteral("StartStopState"), QStringLiteral("On"));
    c.logOnStart = settings.Read(QStringLiteral("Windows Startup"), QStringLiteral("Off"));
    c.startInTray = settings.Read(QStringLiteral("Minimized"), QStringLiteral("Off"));
    c.sizeLimit = settings.Read(QStringLiteral("Size Limit"), QStringLiteral("Off"));
    c.sizeLimitGB = settings.Read(QStringLiteral("Size Limit GB"), QString());
    c.ageLimit = settings.Read(QStringLiteral("Age Limit"), QStringLiteral("Off"));
    c.ageLimitDays = settings.Read(QStringLiteral("Age Limit Days"), QString());
    c.activeHours = settings.Read(QStringLiteral("Active Hours"), QStringLiteral("Off"));
    c.activeFrom = settings.Read(QStringLiteral("Active From"), QString());
    c.activeTo = settings.Read(QStringLiteral("Active To"), QString());
    c.activeDays = settings.Read(QStringLiteral("Active Days"), QString());
    c.timeStamp = settings.Read(QStringLiteral("Time Stamp"), QStringLiteral("Off"));
    return c;
}

// The hot spot of a .cur file sits in its first directory entry.
QPoint CursorHotSpot(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {0, 0};
    const QByteArray head = f.read(14);
    if (head.size() < 14) return {0, 0};
    auto u16 = [&head](int at) {
        return static_cast<int>(static_cast<uchar>(head[at])) |
               (static_cast<int>(static_cast<uchar>(head[at + 1])) << 8);
    };
    return {u16(10), u16(12)};
}

}  // namespace

Form1::Form1(Platform& platform, ProgramState& state, QWidget* parent)
    : QWidget(parent), platform_(platform), state_(state), cam_(*platform.capture, this) {
    setObjectName(QStringLiteral("Form1"));
    CreateControls();
    ConnectHandlers();
    // The icon is stored switched on: it is in the tray as soon as the window exists.
    cSysTray1->LoadConfiguration({true, Picture::FromIcon(QuilloryIcon()), QString()});
    platform_.capture->SetClipFailedHandler(
        [this](const QString& file, const QString& why, bool latest) {
            cam_.ClipFailed(*this, file, why, latest);
        });
    platform_.tray->SetAvailabilityHandler([this](bool available) {
        if (!available) TrayLost();
    });
}

Form1::~Form1() {
    // QWidget's destructor hides the window, and a box losing the focus then
    // reports its editing done: no control may call a handler of a window
    // whose members are already gone.
    for (const QObject* control : findChildren<QObject*>())
        disconnect(control, nullptr, this, nullptr);
    // The capture system and the tray outlive the window.
    platform_.capture->SetClipFailedHandler({});
    platform_.tray->SetAvailabilityHandler({});
    platform_.tray->SetMenu(nullptr);
}

void Form1::CreateControls() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(536, 605);
    setFont(ArialBold(9));
    // The window is white by design, so its text is dark whatever the
    // desktop's scheme: light text of a dark scheme would vanish on it.
    // Buttons keep the scheme's colours, which pair with each other.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::AlternateBase, QColor(0xf0, 0xf0, 0xf0));
    for (QPalette::ColorRole text : {QPalette::WindowText, QPalette::Text}) {
        pal.setColor(text, Qt::black);
        pal.setColor(QPalette::Disabled, text, Qt::darkGray);
    }
    setPalette(pal);
    setAutoFillBackground(true);

    // Positions are left, top, width, height in twips within the container.
    Frame4 = Make<QGroupBox>(this, "Frame4", kStatusDesign, {120, 120, 7800, 855});
    ProgressBar1 = Make<QProgressBar>(Frame4, "ProgressBar1", "", {240, 300, 7320, 405});
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    // Created stopped: nothing is recording before start-up is over, and a
    // tick during start-up would end a clip that never began.
    Timer2 = new Timer(1000, false, this);
    Timer2->setObjectName(QStringLiteral("Timer2"));

    Frame6 = Make<QGroupBox>(this, "Frame6", "Startup Options", {120, 6795, 7800, 750});
    Check3 = Make<QCheckBox>(Frame6, "Check3", "Load this software on Windows startup",
                             {240, 300, 3930, 285});
    Check8 = Make<QCheckBox>(Frame6, "Check8", "Start in system tray", {4320, 300, 2100, 285});

    cSysTray1 = std::make_unique<cSysTray>(*platform_.tray);
    TrayMenu = new QMenu(this);
    TrayMenu->setObjectName(QStringLiteral("TrayMenu"));
    TrayShowOrHide = TrayMenu->addAction(QStringLiteral("Hide to tray"));
    TrayQuit = TrayMenu->addAction(QStringLiteral("Quit"));
    platform_.tray->SetMenu(TrayMenu);

    Timer1 = new Timer(0, true, this);
    Timer1->setObjectName(QStringLiteral("Timer1"));

    Frame1 = Make<QGroupBox>(this, "Frame1", "Where would you like to save webcam videos?",
                             {120, 1020, 7800, 1550});
    Text1 = Make<QLineEdit>(Frame1, "Text1", "Text1", {240, 300, 6615, 330});
    // Filled by itself, the box repaints alone when its caret blinks, instead
    // of having the frame behind it, title and all, drawn twice a second.
    Text1->setAutoFillBackground(true);
    PushButton1 = Make<QPushButton>(Frame1, "PushButton1", "...", {6960, 300, 585, 330});
    // The folder size limit: whether the oldest clips go, and past how many GB.
    Check9 = Make<QCheckBox>(Frame1, "Check9", kFolderLimitCaption, {240, 735, 5355, 285});
    Text2 = Make<QDoubleSpinBox>(Frame1, "Text2", "", {5655, 705, 1200, 330});
    Text2->setLocale(QLocale::c());  // "." as typed in the settings file
    Text2->setDecimals(1);
    Text2->setRange(kFolderLimitMinGB, kFolderLimitMaxGB);
    Text2->setValue(kFolderLimitDefaultGB);
    Text2->setButtonSymbols(QAbstractSpinBox::NoButtons);
    // Only the number the user ends with (Enter, or leaving the box) is taken.
    Text2->setKeyboardTracking(false);
    Text2->setAlignment(Qt::AlignRight);
    Label1 = Make<QLabel>(Frame1, "Label1", "GB", {6960, 735, 585, 285});
    // The age limit, a row below: whether clips go once older than so many days.
    Check10 = Make<QCheckBox>(Frame1, "Check10", kAgeLimitCaption, {240, 1110, 5355, 285});
    Text3 = Make<QSpinBox>(Frame1, "Text3", "", {5655, 1080, 1200, 330});
    Text3->setLocale(QLocale::c());
    Text3->setRange(kAgeLimitMinDays, kAgeLimitMaxDays);
    Text3->setValue(kAgeLimitDefaultDays);
    Text3->setButtonSymbols(QAbstractSpinBox::NoButtons);
    Text3->setKeyboardTracking(false);
    Text3->setAlignment(Qt::AlignRight);
    Label2 = Make<QLabel>(Frame1, "Label2", "days", {6960, 1110, 585, 285});
    ListView2 = Make<ListView>(this, "ListView2", "", {120, 2670, 7800, 1560});
    // The active hours, a row under the list: clips only in these hours on these days.
    constexpr int kActiveRowTop = 4320;
    constexpr int kActiveRowTwips = 390;
    Check11 =
        Make<QCheckBox>(this, "Check11", kActiveHoursCaption, {120, kActiveRowTop + 30, 1980, 285});
    const auto timeBox = [this](const char* name, int left, QTime shown) {
        auto* box = Make<QTimeEdit>(this, name, "", {left, kActiveRowTop, 840, 330});
        box->setDisplayFormat(QStringLiteral("HH:mm"));
        box->setTime(shown);
        box->setButtonSymbols(QAbstractSpinBox::NoButtons);
        box->setKeyboardTracking(false);
        box->setAlignment(Qt::AlignCenter);
        return box;
    };
    const ActiveHours defaults;
    Text4 = timeBox("Text4", 2130, defaults.from);
    Label3 = Make<QLabel>(this, "Label3", "to", {3015, kActiveRowTop + 30, 255, 285});
    Text5 = timeBox("Text5", 3285, defaults.to);
    Label4 = Make<QLabel>(this, "Label4", "on", {4170, kActiveRowTop + 30, 270, 285});
    Label3->setAlignment(Qt::AlignCenter);
    Label4->setAlignment(Qt::AlignCenter);
    QFont dayFont = ArialBold(8.25);
    dayFont.setBold(false);
    for (int day = 0; day < 7; ++day) {
        const QString name = QStringLiteral("Check12(%1)").arg(day);
        auto* toggle = Make<QPushButton>(this, name.toLatin1().constData(), "",
                                         {4485 + day * 495, kActiveRowTop, 465, 330});
        toggle->setText(QLocale::system().dayName(day + 1, QLocale::ShortFormat));
        toggle->setToolTip(QLocale::system().dayName(day + 1, QLocale::LongFormat));
        toggle->setAccessibleName(QLocale::system().dayName(day + 1, QLocale::LongFormat));
        toggle->setCheckable(true);
        toggle->setChecked(defaults.days[size_t(day)]);
        toggle->setFont(dayFont);
        Check12[size_t(day)] = toggle;
    }
    PushButton4 = Make<QPushButton>(this, "PushButton4", kTurnOn, {120, 7665, 7800, 405});
    PushButton2 =
        Make<QPushButton>(this, "PushButton2", "Create 5 Second Webcam Video Now (Test Software)",
                          {120, 8175, 7800, 405});
    ListView1 = Make<ListView>(this, "ListView1", "", {120, 4320, 7800, 1560});
    PushButton3 =
        Make<QPushButton>(this, "PushButton3", "Video Parameters", {120, 5960, 2520, 405});
    PushButton6 = Make<QPushButton>(this, "PushButton6", "Video Format", {2760, 5960, 2520, 405});
    PushButton5 = Make<QPushButton>(this, "PushButton5", "Video Source", {5400, 5960, 2520, 405});
    // In a row of its own under the video buttons, whose row it belongs with.
    Check13 = Make<QCheckBox>(this, "Check13", kTimeStampCaption, {360, 6435, 5400, 285});

    for (QPushButton* b :
         {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6}) {
        b->setFont(ArialBold(11.25));
    }
    // The window grows by the row, and all that was below the list moves down with it.
    QList<QWidget*> row = {Check11, Text4, Label3, Text5, Label4};
    for (QPushButton* toggle : Check12) row << toggle;
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!w->isWindow() && !row.contains(w) && w->y() >= (kActiveRowTop + 7) / 15)
            w->move(w->x(), w->y() + (kActiveRowTwips + 7) / 15);
    }

    // For screen readers: the controls whose text does not say what they are.
    // The status frame's title is the status itself and is announced as it changes.
    const auto describe = [](QWidget* w, const char* name, const char* description) {
        w->setAccessibleName(QString::fromLatin1(name));
        w->setAccessibleDescription(QString::fromLatin1(description));
    };
    describe(ProgressBar1, "Progress", "Time passed until the next clip, or of the clip recording");
    describe(Text1, "Clip folder", "The folder the clips are saved in");
    describe(PushButton1, "Browse", "Choose the folder the clips are saved in");
    describe(Check9, "Folder size limit",
             "Delete the oldest clips when the folder holds more than the size given");
    describe(Text2, "Folder size limit in GB", "How many gigabytes the clips may take");
    Label1->setBuddy(Text2);
    describe(Check10, "Clip age limit",
             "Delete the clips recorded longer ago than the number of days given");
    describe(Text3, "Clip age limit in days", "How many days a clip is kept");
    Label2->setBuddy(Text3);
    describe(ListView2, "How often", "How often a clip is recorded");
    describe(ListView1, "Clip length", "How long each clip lasts");
    describe(Check11, "Active hours",
             "Record only from the first time to the second, on the days switched on");
    describe(Text4, "Active from", "The time of day recording starts");
    describe(Text5, "Active to", "The time of day recording ends");
    Label3->setBuddy(Text5);

    // Tab order as laid out: frames and the bar take no focus.
    for (QWidget* w : std::initializer_list<QWidget*>{Frame1, Frame4, Frame6, ProgressBar1})
        w->setFocusPolicy(Qt::NoFocus);
    // The active-hours row's controls come right after the list it is under.
    QWidget* order[] = {Text1,       ListView2,  Check11,    Text4,      Text5,       Check12[0],
                        Check12[1],  Check12[2], Check12[3], Check12[4], Check12[5],  Check12[6],
                        PushButton1, Check9,     Text2,      Check10,    Text3,       PushButton4,
                        PushButton2, Check8,     Check3,     ListView1,  PushButton3, PushButton5,
                        PushButton6, Check13};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    for (QWidget* w : std::initializer_list<QWidget*>{
             this, Frame4, Frame6, Frame1, ListView1, ListView1->viewport(), ListView2,
             ListView2->viewport(), Text1, PushButton1, PushButton2, PushButton3, PushButton4,
             PushButton5, PushButton6}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    for (QPushButton* toggle : Check12) {
        toggle->setMouseTracking(true);
        toggle->installEventFilter(this);
    }
}

void Form1::ConnectHandlers() {
    connect(Timer1, &Timer::Tick, this, &Form1::Timer1_Timer);
    connect(Timer2, &Timer::Tick, this, &Form1::Timer2_Timer);
    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(ListView1, &ListView::Click, this, &Form1::ListView1_Click);
    connect(ListView2, &ListView::Click, this, &Form1::ListView2_Click);
    connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    connect(Check3, &QCheckBox::toggled, this, &Form1::Check3_Click);
    connect(Check8, &QCheckBox::toggled, this, &Form1::Check8_Click);
    connect(Check9, &QCheckBox::toggled, this, &Form1::Check9_Click);
    connect(Text2, &QDoubleSpinBox::valueChanged, this, &Form1::Text2_Change);
    connect(Check10, &QCheckBox::toggled, this, &Form1::Check10_Click);
    connect(Check13, &QCheckBox::toggled, this, &Form1::Check13_Click);
    connect(Text3, &QSpinBox::valueChanged, this, &Form1::Text3_Change);
    connect(Check11, &QCheckBox::toggled, this, &Form1::Check11_Click);
    connect(Text4, &QTimeEdit::timeChanged, this, &Form1::Text4_Change);
    connect(Text5, &QTimeEdit::timeChanged, this, &Form1::Text5_Change);
    for (int day = 0; day < 7; ++day)
        connect(Check12[size_t(day)], &QPushButton::toggled, this,
                [this, day] { Check12_Click(day); });
    connect(Text1, &QLineEdit::editingFinished, this, &Form1::Text1_Validate);
    connect(cSysTray1.get(), &cSysTray::MouseUp, this, &Form1::cSysTray1_MouseUp);
    connect(TrayShowOrHide, &QAction::triggered, this, &Form1::TrayShowOrHide_Click);
    connect(TrayQuit, &QAction::triggered, this, &QWidget::close);
    // Trays that ask before showing the menu get the entry that applies now.
    connect(TrayMenu, &QMenu::aboutToShow, this, &Form1::UpdateTrayMenu);
}

QString Form1::FolderWith(const QString& relative) const {
    if (!platform_.dataFolder.isEmpty() && !QFileInfo::exists(platform_.programFolder + relative) &&
        QFileInfo::exists(platform_.dataFolder + relative))
        return platform_.dataFolder;
    return platform_.programFolder;
}

QString Form1::HandCursorPath() const {
    const QString file = QStringLiteral("/HAND-M.CUR");
    return FolderWith(file) + file;
}

void Form1::LoadHandCursor(const QString& path) {
    QPixmap picture;
    if (!picture.load(path)) throw VbError(481, QStringLiteral("Invalid picture"));
    const QPoint hotSpot = CursorHotSpot(path);
    customPointer_ = QCursor(picture, hotSpot.x(), hotSpot.y());
    hasCustomPointer_ = true;
}

void Form1::Form_Load() {
    ErrorTrap trap(dialogs(), QStringLiteral("Form1.Form_Load"));
    StoredChoices stored;
    // Another running instance is detected before the window is made (main).
    trap(100, [&] {
        FormLoading = true;
        stored = ReadStoredChoices(settings());
    });
    LoadFolderLimit(stored.sizeLimit, stored.sizeLimitGB);
    LoadAgeLimit(stored.ageLimit, stored.ageLimitDays);
    LoadActiveHours(stored.activeHours, stored.activeFrom, stored.activeTo, stored.activeDays);
    LoadTimeStamp(stored.timeStamp);
    trap(102, [&] { ApplySkin(*this, FolderWith(QStringLiteral("/x/o.cjs"))); });
    const QString pointer = HandCursorPath();
    if (trap.If(104, [&] { return FileExists(pointer); })) {
        trap(106, [&] { LoadHandCursor(pointer); });
    }
    trap(108, [&] {
        setWindowTitle(QLatin1String(kProductTitle));
        setWindowIcon(QuilloryIcon());
    });
    trap(110, [&] { dialogs().SetAppTitle(SetShortTitle(QLatin1String(kProductTitle))); });

    trap(112, [&] {
        // Made when it is not there, so a fresh profile records; a folder
        // that was chosen is never made.
        const QString fallback = DesktopFolder(*platform_.shell, !stored.path);
        Text1->setText(stored.path.value_or(fallback));
    });

    int16_t index = 0;
    trap(114, [&] {
        ListView2->AddColumnHeader(QLatin1String(kIntervalHeader));
        ListView2->SetColumnWidthTwips(6000);
    });
    trap(116, [&] {
        for (const Choice& c : IntervalChoices()) ListView2->AddItem(QLatin1String(c.text));
    });
    trap(118, [&] { index = CInt(stored.interval); });
    trap(120, [&] { ListView2->SelectIndex(index); });
    trap(122, [&] { IntervalSeconds = GetIntervalSeconds(); });

    index = 0;
    trap(124, [&] {
        ListView1->AddColumnHeader(QLatin1String(kLengthHeader));
        ListView1->SetColumnWidthTwips(6000);
        for (const Choice& c : LengthChoices()) ListView1->AddItem(QLatin1String(c.text));
    });
    trap(126, [&] { index = CInt(stored.length); });
    trap(128, [&] { ListView1->SelectIndex(index); });
    trap(130, [&] { state_.ClipSeconds = CLng(stored.clipSeconds); });

    QString startStop;
    trap(132, [&] { startStop = stored.startStop; });
    if (trap.If(134, [&] { return startStop == QLatin1String("Off"); })) {
        trap(136, [&] { PushButton4->setText(QLatin1String(kTurnOn)); });
        trap(138, [&] { Frame4->setTitle(QLatin1String(kStatusOff)); });
        trap(140, [&] { Timer1->SetInterval(0); });
        if (trap.If(142, [&] { return !cam_.ConnectWebCam(); })) {
            trap(144, [&] { dialogs().MsgBox(NoWebcamMessage()); });
        }
    } else if (trap.If(146, [&] { return startStop == QLatin1String("On"); })) {
        trap(148, [&] { PushButton4->setText(QLatin1String(kTurnOff)); });
        trap(150, [&] { Timer1->SetInterval(1000); });
        trap(152, [&] { cam_.StartWebCam(*this); });
    }

    trap(154, [&] { Check3->setChecked(stored.logOnStart == QLatin1String("On")); });
    trap(156, [&] { Check8->setChecked(stored.startInTray == QLatin1String("On")); });
    if (trap.If(158, [&] { return Check8->isChecked(); })) {
        trap(160, [&] { setWindowState(windowState() | Qt::WindowMinimized); });
    }
    trap(162, [&] { Timer2->SetEnabled(false); });
    trap(164, [&] { FormLoading = false; });
    cam_.FolderLimitChanged(*this);
    cam_.AgeLimitChanged(*this);
}

void Form1::FitInto(QSize room) {
    const QSize designed = scroll_ ? scroll_->widget()->size() : size();
    if (!scroll_) {
        if (designed.width() <= room.width() && designed.height() <= room.height()) return;
        // The controls move onto a page of the same size, each where it was.
        scroll_ = new QScrollArea(this);
        scroll_->setObjectName(QStringLiteral("Scroll"));
        scroll_->setFrameShape(QFrame::NoFrame);
        scroll_->setFocusPolicy(Qt::NoFocus);
        auto* page = new QWidget(scroll_);
        page->setObjectName(QStringLiteral("Page"));
        page->resize(designed);
        page->setAutoFillBackground(true);
        page->setMouseTracking(true);
        page->installEventFilter(this);
        for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w == scroll_ || w->isWindow()) continue;  // the tray's menu is a window
            const bool hidden = w->isHidden();
            w->setParent(page);
            w->setHidden(hidden);
        }
        scroll_->setWidget(page);
        scroll_->show();
    }
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    bool across = designed.width() > room.width();
    bool down = designed.height() > room.height();
    across = across || (down && designed.width() + bar > room.width());
    down = down || (across && designed.height() + bar > room.height());
    const QSize fitted(std::min(designed.width() + (down ? bar : 0), room.width()),
                       std::min(designed.height() + (across ? bar : 0), room.height()));
    setFixedSize(fitted);
    scroll_->setGeometry(rect());
}

void Form1::FitToScreen() {
    winId();  // the native window, to know its screen and frame
    // A window moved to a screen of another size or scaling fits that one.
    connect(windowHandle(), &QWindow::screenChanged, this, &Form1::FitToScreen,
            Qt::UniqueConnection);
    const QScreen* screen = this->screen();
    if (!screen) return;
    FitInto(screen->availableGeometry().size().shrunkBy(FrameMargins()));
}

QMargins Form1::FrameMargins() const {
    // A frame scaled apart from the window (Wine's) may be reported a few
    // pixels short, or less than none: some room is kept on every side.
    const QMargins reported = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    return {std::max(reported.left(), kFrameSlack), std::max(reported.top(), kFrameSlack),
            std::max(reported.right(), kFrameSlack), std::max(reported.bottom(), kFrameSlack)};
}

void Form1::CentreOnScreen() {
    const QScreen* screen = this->screen();
    if (!screen) return;
    const QRect room = screen->availableGeometry();
    const QMargins margins = FrameMargins();
    QRect frame = geometry().marginsAdded(margins);
    frame.moveCenter(room.center());
    // The title bar never off the top.
    frame.moveTop(std::max(frame.top(), room.top()));
    frame.moveLeft(std::max(frame.left(), room.left()));
    setGeometry(frame.marginsRemoved(margins));
}

void Form1::ShowAfterLoad() {
    if (state_.HiddenInTray) return;
    FitToScreen();
    CentreOnScreen();
    if (windowState() & Qt::WindowMinimized) {
        // Straight to the tray, without a flash on the taskbar first. A click
        // on the icon during the notice may already have brought it back.
        if (cSysTray1->Shell().IsSystemTrayAvailable()) {
            Form_Resize();
        } else {
            showMinimized();
        }
    } else {
        show();
        // The frame the system gave the window, now that it is shown.
        const QSize before = size();
        FitToScreen();
        if (size() != before) CentreOnScreen();
    }
}

void Form1::ShowAndFocus() {
    // Minimised without a tray it comes back too; otherwise as a click on the icon.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    RestoreFromTray();
}

void Form1::Form_QueryUnload() {
    if (unloaded_) return;
    unloaded_ = true;
    ErrorTrap trap(dialogs(), QStringLiteral("Form1.Form_QueryUnload"));
    trap(100, [&] { cam_.CloseWebCam(); });
    trap(102, [&] { Timer1->SetEnabled(false); });
    trap(104, [&] { cSysTray1->SetInTray(false); });
    trap(106, [&] {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    });
    qCInfo(lcApp) << "closing";
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_QueryUnload();
    event->accept();
    QCoreApplication::quit();
}

void Form1::Check3_Click() {
    if (FormLoading) return;
    if (Check3->isChecked()) {
        Check8->setVisible(true);
        settings().Write(QStringLiteral("Windows Startup"), QStringLiteral("On"));
        if (!mStartUp::AddStartupEntry(*platform_.registry, platform_.executablePath)) {
            // A box that says "on" while nothing starts the program would mislead.
            dialogs().MsgBox(QLatin1String(kStartupEntryFailed));
            Check3->setChecked(false);
        }
    } else {
        Check8->setChecked(false);
        Check8->setVisible(false);
        settings().Write(QStringLiteral("Windows Startup"), QStringLiteral("Off"));
        mStartUp::RemoveStartupEntry(*platform_.registry, platform_.executablePath);
    }
}

void Form1::StoreSwitch(const QString& key, const QCheckBox* box) {
    settings().Write(key, box->isChecked() ? QStringLiteral("On") : QStringLiteral("Off"));
}

void Form1::Check8_Click() {
    StoreSwitch(QStringLiteral("Minimized"), Check8);
}

void Form1::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        // Queued: the balloon waits, and hiding from inside the state change
        // confuses some window managers.
        QMetaObject::invokeMethod(this, &Form1::Form_Resize, Qt::QueuedConnection);
    }
}

void Form1::Form_Resize() {
    Untrapped("Form1.Form_Resize", [&] {
        if (!(windowState() & Qt::WindowMinimized) || state_.HiddenInTray) return;
        HideToTray();
    });
}

void Form1::HideToTray() {
    // Without a tray the window stays reachable as an ordinary minimised one.
    if (state_.HiddenInTray || !cSysTray1->Shell().IsSystemTrayAvailable()) return;
    hide();
    // The state goes back to normal on the way out of the tray: un-minimising
    // a hidden window would map it again on X11.
    state_.HiddenInTray = true;
    UpdateTrayMenu();
    cSysTray1->ShowBalloon(QLatin1String(kTrayNotice), QLatin1String(kProductTitle), 5, true);
}

void Form1::cSysTray1_MouseUp(int /*Button*/, int /*Id*/) {
    // Where minimising cannot be seen, the icon is the way into the tray.
    if (!platform_.minimiseSeen && !state_.HiddenInTray && isVisible()) {
        // Queued: the balloon waits, and the tray's click should not wait with it.
        QMetaObject::invokeMethod(
            this, [this] { Untrapped("Form1.HideToTray", [&] { HideToTray(); }); },
            Qt::QueuedConnection);
        return;
    }
    RestoreFromTray();
}

void Form1::RestoreFromTray() {
    if (state_.HiddenInTray) setWindowState(windowState() & ~Qt::WindowMinimized);
    FitToScreen();
    show();
    raise();
    activateWindow();
    state_.HiddenInTray = false;
    UpdateTrayMenu();
}

void Form1::TrayLost() {
    if (!state_.HiddenInTray || unloaded_) return;
    qCInfo(lcApp) << "the tray went away; showing the window";
    ShowAndFocus();
}

bool Form1::OutOfSight() const {
    return state_.HiddenInTray || !isVisible();
}

void Form1::UpdateTrayMenu() {
    TrayShowOrHide->setText(OutOfSight() ? QStringLiteral("Show") : QStringLiteral("Hide to tray"));
}

void Form1::TrayShowOrHide_Click() {
    if (OutOfSight()) {
        ShowAndFocus();
    } else {
        HideToTray();
    }
}

void Form1::SetPointer(MousePointer pointer) {
    pointer_ = pointer;
    switch (pointer) {
        case MousePointer::Default:
            unsetCursor();
            break;
        case MousePointer::Hourglass:
            setCursor(Qt::WaitCursor);
            break;
        case MousePointer::Custom:
            // Without the picture the ordinary arrow shows.
            if (hasCustomPointer_) {
                setCursor(customPointer_);
            } else {
                unsetCursor();
            }
            break;
    }
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove && pointer_ != MousePointer::Hourglass) {
        auto* widget = static_cast<QWidget*>(watched);
        const bool overButton = qobject_cast<QPushButton*>(widget) != nullptr;
        // A move a button ignored reaches its frame too; the button has decided.
        const QWidget* under =
            widget->childAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        const bool buttonBelow = !overButton && under != nullptr &&
                                 (qobject_cast<const QPushButton*>(under) != nullptr ||
                                  qobject_cast<const QPushButton*>(under->parentWidget()));
        if (!buttonBelow) {
            const MousePointer wanted = overButton ? MousePointer::Custom : MousePointer::Default;
            if (wanted != pointer_) SetPointer(wanted);
        }
    } else if (watched == Text1 && event->type() == QEvent::FocusIn) {
        Text1_GotFocus();
        // The click that gave the focus would place the caret afterwards.
        selectOnRelease_ = static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason;
    } else if (watched == Text1 && event->type() == QEvent::MouseButtonRelease &&
               selectOnRelease_) {
        selectOnRelease_ = false;
        Text1->event(event);  // the edit finishes the click first
        Text1_GotFocus();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace camwarden
