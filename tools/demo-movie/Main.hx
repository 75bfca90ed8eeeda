// The demo lesson screen: big buttons that call the host's functions, the host's answers, a
// recording light, the upload confirmation, and one lesson module's picture and sound fetched from
// the local server (so the data folder visibly fills from the content site). With autotest.xml
// saying enabled="1" it walks the happy path by itself and reports each step back to the site.
import flash.display.Loader;
import flash.display.Sprite;
import flash.events.Event;
import flash.events.IOErrorEvent;
import flash.events.MouseEvent;
import flash.external.ExternalInterface;
import flash.media.Sound;
import flash.net.URLLoader;
import flash.net.URLRequest;
import flash.text.TextField;
import flash.text.TextFieldAutoSize;
import flash.text.TextFormat;

class Main extends Sprite {
    static inline var W = 970;
    static inline var H = 607;
    static inline var MODULE = "lesson1";

    var answers:TextField;
    var status:TextField;
    var caption:TextField;
    var confirmation:TextField;
    var recLight:Sprite;
    var banner:Sprite;
    var recLabel:TextField;
    var recording = false;
    var blinkOn = false;
    var upokCount = 0;
    var sound:Sound;
    var soundReady = false;
    var pictureReady = false;
    var soundFailed = false;
    var pictureFailed = false;
    var mediaReported = false;
    var buttons = new Map<String, DemoButton>();

    // Test mode state.
    var autotest = false;
    var autoQuit = false;
    var autoUid = "1001";
    var autoTid = "42";
    var autoType = "1";
    var autoRecordMs = 2000;
    var waitingForUpok = false;

    static function main() {
        var stage = flash.Lib.current.stage;
        stage.scaleMode = flash.display.StageScaleMode.SHOW_ALL;
        flash.Lib.current.addChild(new Main());
    }

    public function new() {
        super();
        drawBackdrop();
        buildHeader();
        buildPictureCard();
        buildHostCard();
        buildButtons();

        if (ExternalInterface.available) {
            ExternalInterface.addCallback("UPOK", onUpok);
        }
        askHost();
        loadModuleMedia();
        var timer = new flash.utils.Timer(500);
        timer.addEventListener(flash.events.TimerEvent.TIMER, function(_) blink());
        timer.start();
        readTestMode();
    }

    // ---- layout ------------------------------------------------------------------------------

    function drawBackdrop() {
        graphics.beginFill(0xFFF6E0);
        graphics.drawRect(0, 0, W, H);
        graphics.endFill();
        graphics.beginFill(0x5EC8F2);
        graphics.drawRect(0, 0, W, 74);
        graphics.endFill();
        card(20, 88, 450, 330);
        card(490, 88, 460, 330);
    }

    function card(x:Int, y:Int, w:Int, h:Int) {
        graphics.lineStyle(3, 0xF0D9A8);
        graphics.beginFill(0xFFFFFF);
        graphics.drawRoundRect(x, y, w, h, 30, 30);
        graphics.endFill();
        graphics.lineStyle();
    }

    function text(size:Int, color:Int, bold:Bool, x:Int, y:Int, ?w:Int):TextField {
        var t = new TextField();
        t.defaultTextFormat = new TextFormat("_sans", size, color, bold);
        t.selectable = false;
        t.x = x;
        t.y = y;
        if (w != null) {
            t.width = w;
            t.wordWrap = true;
            t.multiline = true;
            t.height = size * 2;
        } else {
            t.autoSize = TextFieldAutoSize.LEFT;
        }
        addChild(t);
        return t;
    }

    function buildHeader() {
        text(34, 0xFFFFFF, true, 24, 12).text = "Vexa demo lesson";
        status = text(18, 0x0B3954, false, 440, 26, 510);
        status.text = "Hello! Press a button.";
    }

    function buildPictureCard() {
        text(22, 0x0B3954, true, 40, 100).text = "Today's word";
        caption = text(15, 0x555555, false, 40, 386);
        caption.text = "Fetching " + MODULE + "/apple.jpg from the local server...";
        var hit = new Sprite();
        hit.x = 45;
        hit.y = 132;
        hit.buttonMode = true;
        hit.useHandCursor = true;
        hit.addEventListener(MouseEvent.CLICK, function(_) playWord());
        addChild(hit);
        var loader = new Loader();
        loader.contentLoaderInfo.addEventListener(Event.COMPLETE, function(_) {
            pictureReady = true;
            caption.text = "Fetched " + MODULE + "/apple.jpg from the local server. Tap it!";
            mediaLoaded();
        });
        loader.contentLoaderInfo.addEventListener(IOErrorEvent.IO_ERROR, function(_) {
            caption.text = "Could not load " + MODULE + "/apple.jpg from the local server.";
            pictureFailed = true;
            mediaLoaded();
        });
        hit.addChild(loader);
        pictureLoader = loader;
    }

    var pictureLoader:Loader;

    function buildHostCard() {
        text(22, 0x0B3954, true, 510, 100).text = "What the computer says";
        answers = text(20, 0x333333, false, 510, 136, 420);
        answers.height = 130;
        recLight = new Sprite();
        recLight.x = 528;
        recLight.y = 300;
        addChild(recLight);
        recLabel = text(22, 0x333333, true, 552, 285);
        paintRecLight();
        banner = new Sprite();
        banner.x = 506;
        banner.y = 336;
        addChild(banner);
        confirmation = text(22, 0x1E7B34, true, 522, 346, 410);
        confirmation.height = 40;
        confirmation.text = "";
    }

    function buildButtons() {
        var row1:Array<Dynamic> = [
            ["Record", 0xE84A5F, record],
            ["Stop", 0x3D5A80, stop],
            ["Listen", 0x2A9D8F, listen],
            ["Upload", 0x8E6CC9, upload]
        ];
        var row2:Array<Dynamic> = [
            ["Full screen", 0x00A6A6, fullScreen],
            ["Clear local files", 0xF4A259, clearLocalFiles],
            ["Quit", 0x7D8597, quit]
        ];
        layRow(row1, 436);
        layRow(row2, 522);
    }

    function layRow(row:Array<Dynamic>, y:Int) {
        var gap = 14;
        var w = Std.int((W - 40 - gap * (row.length - 1)) / row.length);
        for (i in 0...row.length) {
            var spec:Array<Dynamic> = row[i];
            var b = new DemoButton(spec[0], spec[1], w, 70, spec[2]);
            b.x = 20 + i * (w + gap);
            b.y = y;
            addChild(b);
            buttons.set(b.label, b);
        }
    }

    // ---- host calls --------------------------------------------------------------------------

    static function callHost(name:String, ?arg:Dynamic):Dynamic {
        if (!ExternalInterface.available) return null;
        try {
            return arg == null ? ExternalInterface.call(name) : ExternalInterface.call(name, arg);
        } catch (e:Dynamic) {
            return null;
        }
    }

    static function shown(v:Dynamic):String {
        return v == null ? "(no answer)" : Std.string(v);
    }

    var welcome:String;
    var osName:String;
    var speakers:String;
    var microphone:String;

    function askHost() {
        welcome = shown(callHost("getWelcome"));
        osName = shown(callHost("getOSVersion"));
        speakers = shown(callHost("test_wave"));
        microphone = shown(callHost("run_recognize"));
        // The player's own font has no Chinese glyphs; say in English what the host's word means.
        var osShown = osName == "\u672A\u77E5" ? osName + " (unknown)" : osName;
        answers.text = "Welcome: " + welcome + "\nSystem: " + osShown + "\nSpeakers (test_wave): " + speakers
            + "\nMicrophone (run_recognize): " + microphone;
    }

    function record() {
        callHost("RecStart");
        recording = true;
        paintRecLight();
        say("Recording... speak now!");
    }

    function stop() {
        callHost("RecStop");
        recording = false;
        paintRecLight();
        say("Stopped. Press Listen to hear yourself.");
    }

    function listen() {
        callHost("PlayLuYin");
        say("Playing your voice.");
    }

    function upload() {
        uploadWith(autoUid, autoTid, autoType);
    }

    function uploadWith(uid:String, tid:String, type:String) {
        confirmation.text = "Sending your recording...";
        confirmation.textColor = 0x0B3954;
        paintBanner(0xFFE8A3);
        callHost("RecUpload", [uid, tid, type]);
        say("Upload started.");
    }

    function fullScreen() {
        callHost("getWinSize");
        say("Switched the window size.");
    }

    function clearLocalFiles() {
        callHost("LocalFileClear");
        say("Local lesson files cleared; they come back from the content site when needed.");
    }

    function quit() {
        callHost("CloseWinExe");
    }

    function onUpok(arg:Dynamic):String {
        upokCount++;
        confirmation.text = "Upload confirmed! (" + upokCount + ")";
        confirmation.textColor = 0xFFFFFF;
        paintBanner(0x2DA44E);
        say("The computer says the upload is done.");
        if (waitingForUpok) {
            waitingForUpok = false;
            report("upok", ["count" => Std.string(upokCount), "shown" => confirmation.text]);
            if (autoQuit) haxe.Timer.delay(quit, 1500);
        }
        return "";
    }

    function paintBanner(color:Int) {
        banner.graphics.clear();
        banner.graphics.beginFill(color);
        banner.graphics.drawRoundRect(0, 0, 428, 56, 24, 24);
        banner.graphics.endFill();
    }

    function say(s:String) {
        status.text = s;
    }

    function paintRecLight() {
        var g = recLight.graphics;
        g.clear();
        g.beginFill(recording ? (blinkOn ? 0xFF2D2D : 0x9E1B1B) : 0xC8C8C8);
        g.drawCircle(0, 0, 14);
        g.endFill();
        recLabel.text = recording ? "Recording" : "Not recording";
        recLabel.textColor = recording ? 0xD62828 : 0x777777;
    }

    function blink() {
        blinkOn = !blinkOn;
        if (recording) paintRecLight();
    }

    // ---- lesson module media -----------------------------------------------------------------

    function loadModuleMedia() {
        pictureLoader.load(new URLRequest(MODULE + "/apple.jpg"));
        sound = new Sound();
        sound.addEventListener(Event.COMPLETE, function(_) {
            soundReady = true;
            mediaLoaded();
        });
        sound.addEventListener(IOErrorEvent.IO_ERROR, function(_) {
            soundFailed = true;
            mediaLoaded();
        });
        sound.load(new URLRequest(MODULE + "/apple.mp3"));
    }

    // Reports once both media have settled and the test mode is known to be on.
    function mediaLoaded() {
        var pictureDone = pictureReady || pictureFailed;
        var soundDone = soundReady || soundFailed;
        if (!autotest || mediaReported || !pictureDone || !soundDone) return;
        mediaReported = true;
        report("media", ["picture" => (pictureReady ? "ok" : "failed"), "sound" => (soundReady ? "ok" : "failed")]);
    }

    function playWord() {
        if (soundReady) sound.play();
        say("Apple!");
    }

    // ---- test mode ---------------------------------------------------------------------------

    function readTestMode() {
        var params = flash.Lib.current.loaderInfo.parameters;
        if (Reflect.field(params, "autotest") == "1") {
            startAutotest(null);
            return;
        }
        var loader = new URLLoader();
        loader.addEventListener(Event.COMPLETE, function(_) {
            try {
                var root = Xml.parse(Std.string(loader.data)).firstElement();
                if (root != null && root.get("enabled") == "1") startAutotest(root);
            } catch (e:Dynamic) {}
        });
        loader.addEventListener(IOErrorEvent.IO_ERROR, function(_) {});
        loader.load(new URLRequest("autotest.xml"));
    }

    function startAutotest(root:Xml) {
        autotest = true;
        if (root != null) {
            if (root.exists("uid")) autoUid = root.get("uid");
            if (root.exists("tid")) autoTid = root.get("tid");
            if (root.exists("type")) autoType = root.get("type");
            if (root.exists("recordms")) autoRecordMs = Std.parseInt(root.get("recordms"));
            autoQuit = root.get("quit") == "1";
        }
        say("Test mode: walking through the lesson by itself.");
        report("answers", ["welcome" => welcome, "os" => osName, "test_wave" => speakers, "run_recognize" => microphone]);
        mediaLoaded();
        haxe.Timer.delay(function() {
            buttons.get("Record").press();
            haxe.Timer.delay(function() {
                buttons.get("Stop").press();
                haxe.Timer.delay(function() {
                    waitingForUpok = true;
                    buttons.get("Upload").press();
                    report("upload", ["uid" => autoUid, "tid" => autoTid, "type" => autoType]);
                }, 1500);
            }, autoRecordMs);
        }, 500);
    }

    // Each report is an XML request: the local server always asks the content site for XML
    // documents, so the site sees the report even when an older copy is in the data folder.
    // One at a time, each step under its own name, so no two reports are ever in flight for the
    // same local file.
    var reportQueue:Array<String> = [];
    var reportBusy = false;

    function report(step:String, values:Map<String, String>) {
        if (!autotest) return;
        var q = "step=" + StringTools.urlEncode(step);
        for (k in values.keys()) q += "&" + k + "=" + StringTools.urlEncode(values.get(k));
        reportQueue.push("autotest/report-" + step + ".xml?" + q);
        sendNextReport();
    }

    function sendNextReport() {
        if (reportBusy || reportQueue.length == 0) return;
        reportBusy = true;
        var loader = new URLLoader();
        var done = function(_) {
            reportBusy = false;
            sendNextReport();
        };
        loader.addEventListener(Event.COMPLETE, done);
        loader.addEventListener(IOErrorEvent.IO_ERROR, done);
        loader.load(new URLRequest(reportQueue.shift()));
    }
}
