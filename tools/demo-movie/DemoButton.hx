// A large, round-cornered button that a small child can hit; the label is drawn by the player's
// device font so the movie needs no embedded font.
import flash.display.Sprite;
import flash.events.MouseEvent;
import flash.text.TextField;
import flash.text.TextFieldAutoSize;
import flash.text.TextFormat;

class DemoButton extends Sprite {
    public var label(default, null):String;

    var face:Int;
    var w:Int;
    var h:Int;
    var onPress:Void->Void;

    public function new(label:String, face:Int, w:Int, h:Int, onPress:Void->Void) {
        super();
        this.label = label;
        this.face = face;
        this.w = w;
        this.h = h;
        this.onPress = onPress;
        name = label;
        buttonMode = true;
        useHandCursor = true;
        mouseChildren = false;

        var text = new TextField();
        text.defaultTextFormat = new TextFormat("_sans", 24, 0xFFFFFF, true);
        text.autoSize = TextFieldAutoSize.LEFT;
        text.selectable = false;
        text.text = label;
        text.x = Std.int((w - text.width) / 2);
        text.y = Std.int((h - text.height) / 2);
        addChild(text);

        paint(false);
        addEventListener(MouseEvent.MOUSE_OVER, function(_) paint(true));
        addEventListener(MouseEvent.MOUSE_OUT, function(_) paint(false));
        addEventListener(MouseEvent.CLICK, function(_) press());
    }

    public function press() {
        onPress();
    }

    function paint(lit:Bool) {
        graphics.clear();
        graphics.beginFill(0x000000, 0.18);
        graphics.drawRoundRect(3, 5, w, h, 28, 28);
        graphics.endFill();
        graphics.lineStyle(3, 0xFFFFFF, 0.9);
        graphics.beginFill(lit ? lighten(face) : face);
        graphics.drawRoundRect(0, 0, w, h, 28, 28);
        graphics.endFill();
    }

    static function lighten(c:Int):Int {
        var r = Std.int(Math.min(255, ((c >> 16) & 0xFF) + 40));
        var g = Std.int(Math.min(255, ((c >> 8) & 0xFF) + 40));
        var b = Std.int(Math.min(255, (c & 0xFF) + 40));
        return (r << 16) | (g << 8) | b;
    }
}
