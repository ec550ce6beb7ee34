#include "AviProbe.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace camwarden::testing {

AviInfo ProbeAvi(const QString& path) {
    AviInfo info;
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
             QStringLiteral("-show_streams"), QStringLiteral("-show_format"), QStringLiteral("-of"),
             QStringLiteral("json"), path});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return info;
    info.errors = QString::fromUtf8(p.readAllStandardError()).trimmed();
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    const QJsonObject format = root.value(QStringLiteral("format")).toObject();
    info.container = format.value(QStringLiteral("format_name")).toString();
    info.duration = format.value(QStringLiteral("duration")).toString().toDouble();
    for (const auto& v : root.value(QStringLiteral("streams")).toArray()) {
        const QJsonObject s = v.toObject();
        const QString type = s.value(QStringLiteral("codec_type")).toString();
        if (type == QLatin1String("audio")) ++info.audioStreams;
        if (type != QLatin1String("video")) continue;
        ++info.videoStreams;
        info.codec = s.value(QStringLiteral("codec_name")).toString();
        info.pixelFormat = s.value(QStringLiteral("pix_fmt")).toString();
        info.width = s.value(QStringLiteral("width")).toInt();
        info.height = s.value(QStringLiteral("height")).toInt();
        info.frameRate = s.value(QStringLiteral("r_frame_rate")).toString();
        info.headerFrames = s.value(QStringLiteral("nb_frames")).toString().toLongLong();
        info.decodedFrames = s.value(QStringLiteral("nb_read_frames")).toString().toLongLong();
    }
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) info.hasIndex = f.readAll().contains("idx1");
    info.readable = true;
    return info;
}

double MeanLuma(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
             QStringLiteral("lavfi"), QStringLiteral("-i"),
             QStringLiteral("movie=%1,signalstats").arg(path), QStringLiteral("-show_entries"),
             QStringLiteral("frame_tags=lavfi.signalstats.YAVG"), QStringLiteral("-of"),
             QStringLiteral("csv=p=0")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return -1;
    double sum = 0;
    int n = 0;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        bool ok = false;
        const double v = line.trimmed().toDouble(&ok);
        if (ok) {
            sum += v;
            ++n;
        }
    }
    return n ? sum / n : -1;
}

AviPackets CountAviPackets(const QString& path, bool positions) {
    AviPackets r;
    QProcess p;
    p.start(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_packets"),
         QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
         positions ? QStringLiteral("stream=nb_frames,nb_read_packets:packet=pos")
                   : QStringLiteral("stream=nb_frames,nb_read_packets"),
         QStringLiteral("-of"), QStringLiteral("json"), path});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return r;
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    const QJsonObject s = root.value(QStringLiteral("streams")).toArray().at(0).toObject();
    r.headerFrames = s.value(QStringLiteral("nb_frames")).toString().toLongLong();
    r.packets = s.value(QStringLiteral("nb_read_packets")).toString().toLongLong();
    for (const auto& v : root.value(QStringLiteral("packets")).toArray())
        r.positions.push_back(v.toObject().value(QStringLiteral("pos")).toString().toLongLong());
    return r;
}

}  // namespace camwarden::testing
