// The end-to-end test movie: calls every host command, registers "UPOK", and reports what each
// call returned with a GET of /e2e/r/<seq>-<name>-<hex of the answer>.txt on the local server,
// which asks the content site for it (the test's fake site logs it). It waits for the test at
// the points named /e2e/<gate>.xml: the server fetches XML documents anew on every request, so
// a gate opens as soon as the test puts the document on the site.
import flash.display.Sprite;
import flash.events.Event;
import flash.events.IOErrorEvent;
import flash.events.KeyboardEvent;
import flash.external.ExternalInterface;
import flash.net.URLLoader;
import flash.net.URLRequest;
import flash.text.TextField;
import flash.text.TextFormat;

class Main {
    static var seq = 0;
    static var status:TextField;

    static function main() {
        var stage = flash.Lib.current.stage;
        var back = new Sprite();
        back.graphics.beginFill(0x2E7D32);
        back.graphics.drawRect(0, 0, 970, 607);
        back.graphics.endFill();
        back.graphics.beginFill(0xFFC107);
        back.graphics.drawCircle(485, 300, 150);
        back.graphics.endFill();
        flash.Lib.current.addChild(back);
        status = new TextField();
        status.width = 900;
        status.height = 60;
        status.x = 20;
        status.y = 20;
        status.defaultTextFormat = new TextFormat("_sans", 28, 0xFFFFFF);
        status.text = "vexa e2e movie";
        flash.Lib.current.addChild(status);

        stage.addEventListener(KeyboardEvent.KEY_DOWN, function(e:KeyboardEvent) {
            report("key", Std.string(e.keyCode));
        });
        ExternalInterface.addCallback("UPOK", function(arg:Dynamic):String {
            report("UPOK", arg);
            return "movie-got-upok";
        });
        report("available", ExternalInterface.available ? "yes" : "no");
        // /e2e/mode.xml picks the voice exercise; without it the movie calls every command.
        var mode = new URLLoader();
        mode.addEventListener(Event.COMPLETE, function(_) {
            if (Std.string(mode.data).indexOf("voice") >= 0) voice() else run();
        });
        mode.addEventListener(IOErrorEvent.IO_ERROR, function(_) run());
        mode.load(new URLRequest("/e2e/mode.xml"));
    }

    static function show(text:String) {
        status.text = text;
    }

    static function answerText(value:Dynamic):String {
        return value == null ? "null" : "s:" + Std.string(value);
    }

    static function report(name:String, value:Dynamic) {
        var hex = haxe.io.Bytes.ofString(answerText(value)).toHex();
        var loader = new URLLoader();
        loader.addEventListener(IOErrorEvent.IO_ERROR, function(_) {});
        loader.load(new URLRequest("/e2e/r/" + (seq++) + "-" + name + "-" + hex + ".txt"));
    }

    static function call(name:String, ?arg:Dynamic):Dynamic {
        var value:Dynamic = arg == null ? ExternalInterface.call(name) : ExternalInterface.call(name, arg);
        report(name, value);
        return value;
    }

    // Polls /e2e/<gate>.xml until the test has put it on the site.
    static function waitFor(gate:String, then:Void->Void) {
        show("waiting for " + gate);
        var loader = new URLLoader();
        loader.addEventListener(Event.COMPLETE, function(_) {
            report("gate", gate);
            then();
        });
        loader.addEventListener(IOErrorEvent.IO_ERROR, function(_) {
            haxe.Timer.delay(function() waitFor(gate, then), 250);
        });
        loader.load(new URLRequest("/e2e/" + gate + ".xml"));
    }

    static function run() {
        call("getWelcome");
        call("getClient");
        call("getOSVersion");
        call("test_wave");
        call("run_recognize");
        call("reco_word");
        call("play_file");
        call("RecStop");
        // Answers take the movie's own escaping; a command word inside an argument still counts.
        call("getClient", "a&b<c>");
        call("getClient", "xx getWelcome");
        call("recupload");
        call("RecUpload", ["7", "12", "2"]);
        report("commands", "done");
        waitFor("fullscreen", function() {
            call("getWinSize");
            waitFor("windowed", function() {
                call("getWinSize");
                waitFor("close", function() {
                    call("LocalFileClear");
                    show("closing");
                    call("CloseWinExe");
                });
            });
        });
    }

    // The child's voice exercise: record, try to listen too early, stop, listen, send; then send
    // again once the test has taken the MP3 away.
    static function voice() {
        show("recording");
        call("RecStart");
        // Still capturing: the recorder refuses and says so in a message box.
        call("PlayLuYin");
        report("refused", "done");
        haxe.Timer.delay(function() {
            call("RecStop");
            // The recorder closes its files when the device has returned its last buffer.
            haxe.Timer.delay(function() {
                show("listening and sending");
                call("PlayLuYin");
                call("RecUpload", ["e2e-7", "e2e-12", "1"]);
                waitFor("nomp3", function() {
                    call("RecUpload", ["e2e-8", "e2e-13", "3"]);
                    waitFor("close", function() {
                        show("closing");
                        call("CloseWinExe");
                    });
                });
            }, 1500);
        }, 3000);
    }
}
