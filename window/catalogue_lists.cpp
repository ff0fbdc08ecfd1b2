#include "window/catalogue_lists.h"

#include "service/catalogue.h"
#include "text/text_scan.h"
#include "window/main_window.h"

void FillSpeakerList(MainWindow& window, int category) {
    QComboBox* list = window.组合框_即时广播_发音人;
    RemoveAllItems(list);
    for (const SpeakerRecord& record : SpeakerCatalogue().Snapshot()) {
        if (record.category == category) {
            AddItem(list, record.name, ReadLeadingInteger(record.id));
        }
    }
    SelectItem(list, 0);
}

void FillBackgroundTrackList(MainWindow& window, int list) {
    QComboBox* tracks = window.组合框_即时广播_背景音乐;
    RemoveAllItems(tracks);
    AddItem(tracks, "无", -1);
    for (const BackgroundRecord& record : BackgroundCatalogue().Snapshot()) {
        if (record.category == list) {
            AddItem(tracks, record.name, ReadLeadingInteger(record.id));
        }
    }
    SelectItem(tracks, 0);
}

void OnVoiceTypeSelected(MainWindow& window) {
    FillSpeakerList(window, ReadSelectedIndex(window.组合框_即时广播_声音类型) + 1);
}

void OnBackgroundTypeSelected(MainWindow& window) {
    FillBackgroundTrackList(window, ReadSelectedIndex(window.组合框_即时广播_背景类型) + 1);
}
