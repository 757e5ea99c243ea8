⍝ The APL text of the library's rank operator, compiled, against the built-in one.
⍝ The cell ranks X, which the library takes as the operator's axis, are a
⍝ global here: the compiler takes no array operand of a defined operator.
⍝ MAIN: RANKS
∇RANKS;M;V
M←2 3⍴⍳6
V←10 20 30
X←1
⎕←(⊂ RANKOP) M
⎕←(⊂⍤1) M
⎕←V (+ RANKOP) M
⎕←V (+⍤1) M
⎕←(⌽ RANKOP) M
⎕←(⌽⍤1) M
X←0
⎕←(⊂ RANKOP) M
⎕←(⊂⍤0) M
∇
∇Z←L (F RANKOP) R
→(0≠⎕NC 'L')/4
Z←⊃ F¨ ⊂[(-X)↑⍳⍴⍴R] R
→0
Z←⊃ (⊂[(-↑X)↑⍳⍴⍴L] L) F¨ ⊂[(-¯1↑X)↑⍳⍴⍴R] R
∇
