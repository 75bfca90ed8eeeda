// The device-font test movie: shows what the host answered to "getOSVersion" in a grid of
// device-font fields, one per font name that movies name (the player's generic names and the
// Chinese Windows fonts), and the same word in Latin letters as the control. Every cell is a pale
// box on the green stage with black text; AppEndToEndTest.cpp counts the dark pixels in each box.
// It reports "shown" with a GET of /e2e/r/<seq>-shown-<hex>.txt once the fields are filled.
import flash.display.Sprite;
import flash.events.IOErrorEvent;
import flash.external.ExternalInterface;
import flash.net.URLLoader;
import flash.net.URLRequest;
import flash.text.TextField;
import flash.text.TextFormat;

class DeviceText {
    // Cell i sits at (CELL_X + (i % 4) * CELL_PITCH_X, CELL_Y + (i / 4) * CELL_PITCH_Y), sized
    // CELL_W x CELL_H; the test knows the same numbers.
    static inline var CELL_X = 25;
    static inline var CELL_Y = 25;
    static inline var CELL_W = 220;
    static inline var CELL_H = 110;
    static inline var CELL_PITCH_X = 235;
    static inline var CELL_PITCH_Y = 140;
    static inline var TEXT_SIZE = 56;

    static var seq = 0;

    static function report(name:String, value:String) {
        var hex = haxe.io.Bytes.ofString("s:" + value).toHex();
        var loader = new URLLoader();
        loader.addEventListener(IOErrorEvent.IO_ERROR, function(_) {});
        loader.load(new URLRequest("/e2e/r/" + (seq++) + "-" + name + "-" + hex + ".txt"));
    }

    static function cell(index:Int, font:String, text:String) {
        var x = CELL_X + (index % 4) * CELL_PITCH_X;
        var y = CELL_Y + Std.int(index / 4) * CELL_PITCH_Y;
        var box = new Sprite();
        box.graphics.beginFill(0xFFFDE7);
        box.graphics.drawRect(x, y, CELL_W, CELL_H);
        box.graphics.endFill();
        flash.Lib.current.addChild(box);
        var field = new TextField();
        field.x = x;
        field.y = y;
        field.width = CELL_W;
        field.height = CELL_H;
        field.selectable = false;
        field.defaultTextFormat = new TextFormat(font, TEXT_SIZE, 0x000000);
        field.text = text;
        flash.Lib.current.addChild(field);
    }

    static function main() {
        var back = new Sprite();
        back.graphics.beginFill(0x2E7D32);
        back.graphics.drawRect(0, 0, 970, 607);
        back.graphics.endFill();
        flash.Lib.current.addChild(back);

        var answer:Dynamic = ExternalInterface.call("getOSVersion");
        var text = answer == null ? "" : Std.string(answer);
        // The host's answer in Latin letters.
        cell(0, "_sans", "Weizhi");
        var fonts = [
            "_sans", "_serif", "_typewriter", "宋体", "新宋体", "黑体", "楷体", "仿宋", "微软雅黑",
            "SimSun", "SimHei"
        ];
        for (i in 0...fonts.length) cell(i + 1, fonts[i], text);
        // Latin and Chinese in one field of a Chinese font name.
        cell(fonts.length + 1, "宋体", "OS" + text);
        haxe.Timer.delay(function() report("shown", text), 500);
    }
}
