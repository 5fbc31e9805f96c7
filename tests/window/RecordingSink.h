// A form events sink for both window test programs: logs every event with
// what it was given, and answers as the test asks: no top or bottom edge
// (no edge at all when refusing), `edge` as the sized rectangle's right and
// the moved rectangle's left side, `minTrackX` as the minimum track width.
#pragma once

#include "window/FormEvents.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct RecordingSink : formevents::FormEventsSink {
    void Move() override { Log("Move", {}); }
    void GetMinMaxInfo(std::int32_t& a, std::int32_t& b, std::int32_t& c, std::int32_t& d,
                       std::int32_t& minTrack, std::int32_t& f, std::int32_t& g,
                       std::int32_t& h) override {
        Log("GetMinMaxInfo", {a, b, c, d, minTrack, f, g, h});
        minTrack = minTrackX;
    }
    void NCHitTest(std::int16_t x, std::int16_t y, std::int32_t& hitCode) override {
        Log("NCHitTest", {x, y, hitCode});
        if (refuse || hitCode == formevents::HTTOP || hitCode == formevents::HTBOTTOM)
            hitCode = formevents::HTNOWHERE;
        if (fail) throw std::runtime_error("handler failed");
    }
    void Resizing(std::int32_t& x1, std::int32_t& y1, std::int32_t& x2, std::int32_t& y2,
                  std::int16_t border) override {
        Log("Resizing", {x1, y1, x2, y2, border});
        if (edge) x2 = *edge;
    }
    void Moving(std::int32_t& x1, std::int32_t&, std::int32_t&, std::int32_t&,
                std::int16_t border) override {
        Log("Moving", {border});
        if (edge) x1 = *edge;
    }
    void Log(std::string entry, std::initializer_list<std::int32_t> values) {
        for (std::int32_t v : values)
            entry += " " + std::to_string(v);
        log.push_back(entry);
    }
    // The logged events whose name starts with `name`.
    std::vector<std::string> Events(const std::string& name) const {
        std::vector<std::string> found;
        for (const std::string& e : log)
            if (e.rfind(name, 0) == 0) found.push_back(e);
        return found;
    }

    std::vector<std::string> log;
    std::optional<std::int32_t> edge;
    std::int32_t minTrackX = 640;
    bool refuse = false, fail = false;
};
